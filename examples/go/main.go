package main

import "fmt"

func greeting() string {
	return "Hello from a Go module"
}

func main() {
	fmt.Println(greeting())
}
