console.log("Hello from a pnpm project");
