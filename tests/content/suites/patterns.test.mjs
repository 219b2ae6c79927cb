// The masked pattern rule for URLs and titles.
import assert from "node:assert/strict";
import { test } from "node:test";
import { readFileSync } from "node:fs";
import { Store, openPage, visit, waitFor } from "../harness.mjs";
import { env } from "./common.mjs";

test("CompareMaskedString counts only what stands before the first star, case-sensitively", async () => {
  const page = await openPage(env.browser, new Store("", 0));
  await visit(page, `${env.base}/login.html`);
  // The table the store tool's tests use too, so that both sides keep one rule.
  const shared = JSON.parse(readFileSync(new URL("../../fixtures/patterns.json", import.meta.url), "utf8"));
  const cases = [...shared.masked, [5, "5", true], [null, "null", true]];
  for (const [pattern, text, expected] of cases) {
    assert.equal(await page.evaluate(([p, t]) => CompareMaskedString(p, t), [pattern, text]), expected,
                 `${JSON.stringify(pattern)} against ${JSON.stringify(text)}`);
  }
  await page.close();
});

test("startsWith is added only where the engine lacks it", async () => {
  const page = await openPage(env.browser, new Store("", 0), {
    beforeScript: () => { delete String.prototype.startsWith; },
  });
  await visit(page, `${env.base}/login.html`);
  assert.deepEqual(await page.evaluate(() => ["abc".startsWith("ab"), "abc".startsWith("b"), "abc".startsWith("b", 1)]),
                   [true, false, true]);
  await page.close();
});

test("url and title patterns decide which templates run", async () => {
  const url = `${env.base}/login.html`;
  const templates = [
    { url, elements: [], title: "Sign in" },                  // exact url and title: runs
    { url: url.toUpperCase(), elements: [] },                  // case counts: waits
    { url: `${env.base}/log*`, title: "Sign*", elements: [] }, // both prefixes: runs
    { url: "*", title: "", elements: [] },                     // empty title matches only an empty one
    { url: "*", title: "Other", elements: [] },
  ];
  const store = new Store(templates, 0);
  const page = await openPage(env.browser, store);
  await visit(page, url);
  await waitFor(() => store.templateWrites === 2);
  assert.deepEqual(store.parsed.map((t) => t.url + "|" + t.title), [
    `${url.toUpperCase()}|undefined`, "*|", "*|Other",
  ]);
  await page.close();
});
