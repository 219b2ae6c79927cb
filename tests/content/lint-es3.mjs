// Rejects anything in a script that is not ECMAScript 3 syntax (Internet Explorer's page
// script engine), and any byte outside single-byte ASCII.
import { readFileSync } from "node:fs";
import { parse } from "acorn";

let failed = false;
for (const file of process.argv.slice(2)) {
  const bytes = readFileSync(file);
  const bad = bytes.findIndex((b) => b > 0x7e || (b < 0x20 && b !== 0x0a && b !== 0x0d && b !== 0x09));
  if (bad >= 0) {
    console.error(`${file}: byte 0x${bytes[bad].toString(16)} at offset ${bad} is not printable ASCII`);
    failed = true;
  }
  try {
    parse(bytes.toString("latin1"), { ecmaVersion: 3, allowReserved: "never", sourceType: "script", locations: true });
  } catch (error) {
    console.error(`${file}: not ECMAScript 3: ${error.message}`);
    failed = true;
  }
}
if (failed) process.exit(1);
console.log("ECMAScript 3: ok");
