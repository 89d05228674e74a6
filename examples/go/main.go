package main

import "fmt"

func main() {
	fmt.Println("Hello from a Go module")
}
