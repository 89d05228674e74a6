// Copies the source into dist/ with a banner: a build that needs no remote module.
const source: string = await Deno.readTextFile("main.ts");
await Deno.mkdir("dist", { recursive: true });
await Deno.writeTextFile("dist/main.ts", "// built by deno task build\n" + source);
console.log("built dist/main.ts");
