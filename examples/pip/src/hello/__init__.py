def greet():
    return "Hello from a pip project"
