module example.com/hello

go 1.19
