System.Console.WriteLine("Hello from a .NET project");
