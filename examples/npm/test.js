// Checks the greeting of the source: a test that needs nothing from the registry.
const assert = require("assert");
const fs = require("fs");
const path = require("path");

const source = fs.readFileSync(path.join(__dirname, "index.js"), "utf8");
assert.ok(source.includes("Hello from an npm project"), "index.js greets");
console.log("1 test passed");
