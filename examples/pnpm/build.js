// Copies the source into dist/ with a banner; the banner's number is checked with is-number.
const fs = require("fs");
const path = require("path");
const isNumber = require("is-number");

const build = 1;
if (!isNumber(build)) throw new Error("is-number is broken");
const source = fs.readFileSync(path.join(__dirname, "index.js"), "utf8");
fs.mkdirSync(path.join(__dirname, "dist"), { recursive: true });
fs.writeFileSync(path.join(__dirname, "dist", "index.js"), `// build ${build}, by pnpm run build\n` + source);
console.log("built dist/index.js");
