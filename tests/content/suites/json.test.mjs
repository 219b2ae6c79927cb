// The content script's own JSON reader and writer (used where the engine has no JSON) against
// the engine's JSON: generated values and mutated texts must get the same answer from both.
import assert from "node:assert/strict";
import { test } from "node:test";
import vm from "node:vm";
import { contentScript } from "../harness.mjs";

// The script's reader and writer, from a run on an empty store.
function loadScript() {
  const extension = { Templates: "", DebugTime: 0, AuthCreds: "", GetElementByXPath: () => null };
  const context = vm.createContext({ window: { VelnorIEExt: extension, location: { href: "about:blank" } },
                                     document: { title: "" } });
  vm.runInContext(contentScript, context);
  return context.VelnorSSOJson;
}

// A small deterministic generator (the same run every time).
function random(seed) {
  let state = seed >>> 0;
  return (n) => {
    state = (state * 1664525 + 1013904223) >>> 0;
    return state % n;
  };
}

function makeString(next) {
  const pool = ["a", "Z", " ", "\"", "\\", "/", "\n", "\r", "\t", "\b", "\f", "\u0001", "\u001f", "\u007f", "\u00e9",
                "\u20ac", "\ud83d", "\ude00", "\u2028", "\uffff", "*", "<", "'"];
  let text = "";
  for (let i = next(12); i > 0; i--) text += pool[next(pool.length)];
  return text;
}

function makeValue(next, depth) {
  switch (next(depth > 3 ? 5 : 7)) {
    case 0: return makeString(next);
    case 1: return [0, -0, 1, -1.5e-7, 3.25, 1e21, 123456789012, -2147483648][next(8)];
    case 2: return next(2) === 0;
    case 3: return null;
    case 4: return makeString(next);
    case 5: return Array.from({ length: next(4) }, () => makeValue(next, depth + 1));
    default: {
      const object = {};
      for (let i = next(4); i > 0; i--) object[makeString(next) || "k"] = makeValue(next, depth + 1);
      return object;
    }
  }
}

test("the script's writer and reader agree with the engine's JSON on generated values", () => {
  const script = loadScript();
  const next = random(7);
  for (let i = 0; i < 2000; i++) {
    const value = makeValue(next, 0);
    const written = script.JsonValueText(value);
    assert.match(written, /^[\x20-\x7e]*$/, "the writer writes printable ASCII only");
    // (Values cross from the script's realm by structuredClone; -0 is written as 0 by both.)
    const expected = JSON.parse(JSON.stringify(value));
    assert.deepEqual(JSON.parse(written), expected);
    assert.deepEqual(structuredClone(script.ParseJsonText(JSON.stringify(value))), expected);
  }
  // As JSON.stringify: undefined and functions are left out of objects and are null in arrays.
  assert.equal(script.JsonValueText({ a: undefined, b: () => 1, c: [undefined, NaN, Infinity] }), "{\"c\":[null,null,null]}");
});

test("the script's reader accepts exactly what the engine's JSON accepts", () => {
  const script = loadScript();
  const next = random(11);
  const alphabet = ["[", "]", "{", "}", ",", ":", "\"", "\\", "0", "1", "-", ".", "e", "+", " ", "t", "n", "u", "x", "\n"];
  let refused = 0;
  for (let i = 0; i < 4000; i++) {
    let text = JSON.stringify(makeValue(next, 0));
    // One to three random edits: delete, insert or replace a character.
    for (let edits = 1 + next(3); edits > 0; edits--) {
      const at = next(text.length + 1);
      const kind = next(3);
      const piece = alphabet[next(alphabet.length)];
      text = kind === 0 ? text.slice(0, at) + text.slice(at + 1)
           : kind === 1 ? text.slice(0, at) + piece + text.slice(at)
           : text.slice(0, at) + piece + text.slice(at + 1);
    }
    let expected;
    try {
      expected = { value: JSON.parse(text) };
    } catch {
      expected = "refused";
    }
    let actual;
    try {
      actual = { value: structuredClone(script.ParseJsonText(text)) };
    } catch (error) {
      assert.match(error.message, /^not valid JSON: /);
      actual = "refused";
    }
    assert.deepEqual(actual, expected, `text: ${JSON.stringify(text)}`);
    if (expected === "refused") refused++;
  }
  assert.ok(refused > 1000, "the mutations produced invalid texts");
});

// Where the engine has no JSON the script checks the text with regular expressions and evals
// it; the reader decides whatever the check does not pass. The check must pass no text the
// reader refuses (such text would reach eval), and eval must read checked text to the values
// the reader reads.
function sameValue(a, b, path = "") {
  assert.equal(typeof a, typeof b, path);
  if (a === null || typeof a !== "object") {
    assert.ok(Object.is(a, b), `${path}: ${String(a)} against ${String(b)}`);
    return;
  }
  assert.equal(Array.isArray(a), Array.isArray(b), path);
  assert.deepEqual(Object.getOwnPropertyNames(a), Object.getOwnPropertyNames(b), path);
  const protoA = Object.getPrototypeOf(a);
  const protoB = Object.getPrototypeOf(b);
  if (protoA === null || protoB === null || !Object.getOwnPropertyNames(protoA).includes("hasOwnProperty")) {
    // A "__proto__" member gives both readers the same prototype, built from the text.
    sameValue(protoA, protoB, path + ".__proto__");
  }
  for (const name of Object.getOwnPropertyNames(a)) {
    if (name !== "length" || !Array.isArray(a)) sameValue(a[name], b[name], `${path}.${name}`);
  }
}

function readBoth(script, text) {
  let read;
  try {
    read = { value: script.ReadJsonText(text) };
  } catch (error) {
    assert.match(error.message, /^not valid JSON: /);
    read = "refused";
  }
  const checked = script.IsJsonText(text);
  if (checked) assert.notEqual(read, "refused", `checked but refused by the reader: ${JSON.stringify(text)}`);
  let parsed;
  try {
    parsed = { value: script.ParseJsonText(text) };
  } catch (error) {
    parsed = "refused";
  }
  if (read === "refused") assert.equal(parsed, "refused", JSON.stringify(text));
  else sameValue(parsed.value, read.value, JSON.stringify(text));
  return { checked, read };
}

test("the check passes no text the reader refuses, and checked text reads to the reader's values", () => {
  const script = loadScript();
  const next = random(23);
  // Pieces where eval and JSON part ways: white space JSON does not have, line separators that
  // end an eval string, escapes, "__proto__" and raw control characters.
  const alphabet = ["[", "]", "{", "}", ",", ":", "\"", "\\", "0", "-", ".", "e", " ", "t", "u", "\n", "\t", "\r",
                    "\u000b", "\u000c", "\u00a0", "\ufeff", "\u2028", "\u2029", "\u0001", "\u0002", "\\u2028", "\\/",
                    "\"__proto__\":", "{\"__proto__\":{\"x\":1}}", "\"\\u0000\"", "1e400", "-0", "//", "/*", ")", "("];
  let checked = 0;
  let refused = 0;
  for (let i = 0; i < 6000; i++) {
    const value = makeValue(next, 0);
    let text = next(4) === 0 ? JSON.stringify(value, null, next(2) ? "\t" : " ") : JSON.stringify(value);
    for (let edits = next(4); edits > 0; edits--) {
      const at = next(text.length + 1);
      const piece = alphabet[next(alphabet.length)];
      text = next(2) ? text.slice(0, at) + piece + text.slice(at) : text.slice(0, at) + piece + text.slice(at + 1);
    }
    const outcome = readBoth(script, text);
    if (outcome.checked) checked++;
    if (outcome.read === "refused") refused++;
  }
  assert.ok(checked > 2000, `the check passed most readable texts (${checked})`);
  assert.ok(refused > 1000, `the edits produced texts the reader refuses (${refused})`);
});

test("the check refuses nesting exactly where the reader does, and reads the texts between", () => {
  const script = loadScript();
  const nest = (depth, inner) => "[".repeat(depth) + inner + "]".repeat(depth);
  const objects = (depth, inner) => "{\"a\":".repeat(depth) + inner + "}".repeat(depth);
  // A value may stand at depth 512 (the top value at 0): an empty container there, or a scalar
  // inside 512 containers.
  for (const [text, readable] of [[nest(513, ""), true], [nest(514, ""), false], [nest(512, "1"), true],
                                  [nest(513, "1"), false], [objects(512, "\"x\""), true], [objects(513, "\"x\""), false],
                                  [nest(256, objects(256, "{}")), true], [nest(256, objects(257, "{}")), false]]) {
    const outcome = readBoth(script, text);
    assert.equal(outcome.read !== "refused", readable, text.slice(0, 20));
    assert.equal(outcome.checked, readable, "the check decides, not the reader: " + text.slice(0, 20));
  }
  // Deep text the check gives up on costs no more than a few passes; the reader refuses it.
  const deep = nest(100000, "");
  assert.equal(script.IsJsonText(deep), false);
  assert.throws(() => script.ParseJsonText(deep), /nested too deeply/);
});

test("checked text keeps line separators, escapes and lone surrogates as the reader reads them", () => {
  const script = loadScript();
  const texts = ["[\"a\u2028b\u2029c\"]", "[\"\\\\\u2028\"]", "[\"\\u2028\\/\\b\\f\\n\\r\\t\\\"\\\\\"]",
                 "[\"\ud83d\", \"\ude00x\", \"\\ud83d\"]", "{\"__proto__\": 1, \"constructor\": 2, \"toString\": 3}",
                 "{\"a\": 1, \"a\": 2}", " \t\r\n[ -0 , 1E+2, 0.5e-1 ]\n", "\"</script>\"", "{\"\": \"\"}"];
  for (const text of texts) {
    assert.equal(readBoth(script, text).checked, true, JSON.stringify(text));
  }
  assert.equal(script.ParseJsonText("[\"a\u2028b\"]")[0], "a\u2028b");
  // The characters the check puts in place of values are no JSON where the text has them.
  for (const text of ["[\u0002]", "{\u0001:1}", "[1,\u0001]", "\u0002", "{\u0001:\u0002}"]) {
    assert.equal(script.IsJsonText(text), false, JSON.stringify(text));
    assert.throws(() => script.ParseJsonText(text), /^Error: not valid JSON: /);
  }
  // Text the reader refuses for a raw tab in a string, although eval would take it.
  assert.equal(script.IsJsonText("[\"\t\"]"), false);
  assert.throws(() => script.ParseJsonText("[\"\t\"]"), /control character/);
});
