from hello import greet


def test_greet():
    assert greet() == "Hello from a pip project"
