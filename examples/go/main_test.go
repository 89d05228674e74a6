package main

import "testing"

func TestGreeting(t *testing.T) {
	if got := greeting(); got != "Hello from a Go module" {
		t.Fatalf("greeting() = %q", got)
	}
}
