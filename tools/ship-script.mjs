// The content script as the DLL ships it: content/content.js without its comments, blank lines
// and indentation. The script is parsed in every page a browser shows, so what it carries for
// its readers only costs every page; content/content.js stays the one source.
//
//   node tools/ship-script.mjs SOURCE TARGET
//
// Comments are found by parsing the script as ECMAScript 3 (Debian's acorn), never by searching
// the text, so a "/*" or "//" inside a string or a regular-expression literal stays as it is. A
// block comment that spans lines becomes a line break (it ends a statement for automatic
// semicolon insertion as a line break does), any other comment a space, so no two tokens meet.
// A script whose string or regular expression spans lines is refused: its lines cannot be
// trimmed safely.
import { readFileSync, writeFileSync } from "node:fs";

export const acornPath = "/usr/share/nodejs/acorn/dist/acorn.mjs";

const lineBreak = /\r\n?|\n|\u2028|\u2029/;

export function shippedText(source, acorn) {
  const comments = [];
  const tokens = [];
  acorn.parse(source, { ecmaVersion: 3, allowReserved: "never", sourceType: "script",
                        onComment: comments, onToken: tokens });
  for (const token of tokens) {
    if (lineBreak.test(source.slice(token.start, token.end)))
      throw new Error(`a token spans lines at offset ${token.start}; the script cannot be shipped trimmed`);
  }
  let text = "";
  let at = 0;
  for (const comment of comments) {
    text += source.slice(at, comment.start);
    text += comment.type === "Block" && lineBreak.test(comment.value) ? "\n" : " ";
    at = comment.end;
  }
  text += source.slice(at);
  return text.split(/\r\n?|\n/).map((line) => line.trim()).filter((line) => line !== "").join("\n") + "\n";
}

if (process.argv[1] && import.meta.url.endsWith(process.argv[1].replace(/^.*[\\/]/, "/"))) {
  const [source, target] = process.argv.slice(2);
  if (!source || !target) {
    console.error("usage: node tools/ship-script.mjs SOURCE TARGET");
    process.exit(2);
  }
  const acorn = await import(acornPath);
  writeFileSync(target, shippedText(readFileSync(source, "latin1"), acorn), "latin1");
}
