// The template schema against the administrators' examples and against the mistakes it exists
// to catch.
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { dirname, join } from "node:path";
import { test } from "node:test";
import { fileURLToPath } from "node:url";
import Ajv2020 from "ajv/dist/2020.js";

const content = join(dirname(fileURLToPath(import.meta.url)), "..", "..", "..", "content");
const schema = JSON.parse(readFileSync(join(content, "template.schema.json"), "utf8"));
const validate = new Ajv2020({ allErrors: true, strict: true, strictTypes: false, strictRequired: false }).compile(schema);

const good = (extra = {}) => [{ url: "https://a.example/*", elements: [], ...extra }];
const withAction = (action) => good({ elements: [{ find: { type: "id", value: "x" }, actions: [action] }] });

test("every example of TEMPLATES.md is a valid template text", () => {
  const blocks = [...readFileSync(join(content, "TEMPLATES.md"), "utf8").matchAll(/```json\n([\s\S]*?)```/g)];
  assert.ok(blocks.length >= 5);
  for (const [, block] of blocks) assert.ok(validate(JSON.parse(block)), JSON.stringify(validate.errors));
});

test("run state, defaults and unknown fields are allowed", () => {
  assert.ok(validate(good({ ID: 3, startElement: 1, startAction: 2, maxRetries: -1, retryInterval: 0.5, owner: "ops" })));
  assert.ok(validate(good({ elements: [{}, { actions: [] }, { actions: [{ type: "keypress" }] }] })));
});

test("the mistakes administrators make are refused", () => {
  const bad = [
    {},                                               // not an array
    [{ elements: [] }],                               // no url
    [{ url: "https://a/" }],                          // no elements
    good({ maxRetries: -2 }), good({ maxRetries: 1.5 }), good({ retryInterval: 0 }), good({ maxRetries: "3" }),
    good({ elements: [null] }), good({ elements: [{ actions: [null] }] }),
    good({ elements: [{ find: { type: "tag", value: "input" } }] }),
    good({ elements: [{ find: { type: "id" } }] }),
    withAction({ type: "typo" }), withAction({ value: "x" }),
    withAction({ type: "text" }), withAction({ type: "select" }), withAction({ type: "checkbox", selected: true }),
    withAction({ type: "sendEvent" }), withAction({ type: "delay", value: "500" }),
    withAction({ type: "httpBasicAuth", username: "u" }),
    withAction({ type: "text", value: "v", events: "true" }), withAction({ type: "select", value: 1, events: 1 }),
    withAction({ type: "checkbox", selected: "true", byClick: "yes" }),
    withAction({ type: "httpBasicAuth", username: "u\r", password: "p" }),
  ];
  for (const text of bad) assert.equal(validate(text), false, JSON.stringify(text));
});

test("a password change settles only on what the site says: both success and failure finds", () => {
  const find = { type: "text", value: "changed" };
  const change = (verify) => good({ kind: "passwordChange", ...(verify === undefined ? {} : { verify }) });
  assert.ok(validate(change({ success: [find], failure: [find] })), JSON.stringify(validate.errors));
  for (const verify of [undefined, {}, { success: [find] }, { failure: [find] }, { success: [], failure: [find] }]) {
    assert.equal(validate(change(verify)), false, JSON.stringify(verify));
  }
  assert.ok(validate(good({ verify: { success: [find] } })), "a sign-on may name only one of them");
});
