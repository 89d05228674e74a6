console.log("Hello from an npm project");
