// The content script as the DLL ships it (tools/ship-script.mjs): the source's tokens, in order,
// with a line break before exactly the tokens that had one (automatic semicolon insertion reads
// them), in ECMAScript 3 and ASCII; and the shipping step on texts where comments are easy to
// get wrong.
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { test } from "node:test";
import * as acorn from "acorn";
import { contentScript, contentScriptPath } from "../harness.mjs";
import { shippedText } from "../../../tools/ship-script.mjs";

// Each token as type, text and whether a line break stands between it and the token before.
function tokens(text) {
  const list = [];
  let end = -1;
  for (const token of acorn.tokenizer(text, { ecmaVersion: 3 })) {
    const newLine = end >= 0 && /[\n\r]/.test(text.slice(end, token.start));
    list.push(`${token.type.label} ${text.slice(token.start, token.end)}${newLine ? " (new line)" : ""}`);
    end = token.end;
  }
  return list;
}

test("the shipped script is the source's tokens, line breaks where they decide", () => {
  const source = readFileSync(contentScriptPath, "latin1");
  assert.deepEqual(tokens(contentScript), tokens(source));
  assert.ok(contentScript.length < source.length * 0.7, `shipped ${contentScript.length} of ${source.length} characters`);
  assert.doesNotThrow(() => acorn.parse(contentScript, { ecmaVersion: 3, allowReserved: "never", sourceType: "script" }));
  assert.ok(!/[^\x09\x0a\x0d\x20-\x7e]/.test(contentScript), "single-byte ASCII only");
  assert.ok(!/\/\*|^\s*\/\//m.test(contentScript.replace(/"(?:[^"\\]|\\.)*"/g, "\"\"")), "no comment left");
});

test("comment marks inside strings and regular expressions stay; comments never join tokens", () => {
  const source = [
    "var a = \"/* not a comment */\", b = '// nor this';",
    "var r = /\\/*x/g, s = /[/*]/; // gone",
    "var c = a/**/+/**/b; var d = 4 /* gone */ / 2;",
    "function f() {",
    "    return/*",
    "    */1;",
    "}",
    "",
    "   /* a whole line */   ",
  ].join("\n");
  assert.equal(shippedText(source, acorn), [
    "var a = \"/* not a comment */\", b = '// nor this';",
    "var r = /\\/*x/g, s = /[/*]/;",
    "var c = a + b; var d = 4   / 2;",
    "function f() {",
    "return",
    "1;",
    "}",
    "",
  ].join("\n"));
});

test("a string that spans lines is refused, not trimmed", () => {
  assert.throws(() => shippedText("var s = \"a\\\n   b\";", acorn), /spans lines/);
});
