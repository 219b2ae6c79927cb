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
