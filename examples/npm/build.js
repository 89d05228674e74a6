// Copies the source into dist/ with a banner: a build that needs nothing from the registry.
const fs = require("fs");
const path = require("path");

const source = fs.readFileSync(path.join(__dirname, "index.js"), "utf8");
fs.mkdirSync(path.join(__dirname, "dist"), { recursive: true });
fs.writeFileSync(path.join(__dirname, "dist", "index.js"), "// built by npm run build\n" + source);
console.log("built dist/index.js");
