<?php

namespace Hello;

final class Greeting
{
    public static function text(): string
    {
        return "Hello from a Composer project";
    }
}
