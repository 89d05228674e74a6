const greeting: string = "Hello from a Deno project";
console.log(greeting);
