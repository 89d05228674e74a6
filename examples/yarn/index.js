console.log("Hello from a Yarn project");
