console.log("Hello from an npm project with a dependency");
