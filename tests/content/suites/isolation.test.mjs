// Template isolation: the content script signs on exactly as without it, while other sites'
// templates stay out of the page's reach and untouched in the store.
import assert from "node:assert/strict";
import { test } from "node:test";
import { Store, openPage, visit, waitFor } from "../harness.mjs";
import { byId, env, loginTemplate } from "./common.mjs";

test("a page signs on with isolation as without it, and other sites' templates stay as they were", async () => {
  const bank = { url: "https://bank.example/*", note: "\u00e9", elements: [{ actions: [{ type: "httpBasicAuth", username: "teller", password: "bank-pw" }] }] };
  const everySite = { url: "*", maxRetries: -1, elements: [{ find: byId("nowhere") }] };
  const signOn = loginTemplate([
    { find: byId("user"), actions: [{ type: "text", value: "alice" }, { type: "sendEvent", event: "input" }] },
    { find: byId("pass"), actions: [{ type: "text", value: "pw" }] },
    { find: byId("go"), actions: [{ type: "click" }] },
  ]);
  const sent = {};
  for (const isolation of [false, true]) {
    const store = new Store([bank, signOn, everySite], 1, { isolation });
    const page = await openPage(env.browser, store);
    await visit(page, `${env.base}/login.html`);
    await page.waitForURL(/\/welcome/);
    sent[isolation] = [await page.textContent("#sent-user"), await page.textContent("#sent-pass"), await page.evaluate(() => document.title)];
    await waitFor(() => store.templateWrites >= 1);
    const left = store.parsed;
    assert.equal(left.length, 2, "the sign-on template is dropped");
    assert.equal(left[1].url, "*", "the template for every site stays");
    if (isolation) {
      assert.deepEqual(left[1], everySite, "untouched: under isolation no page is given it");
      assert.deepEqual(left[0], bank, "the bank's template is untouched: the page never saw it");
      assert.ok(!page.traces.some((line) => line.includes("bank.example")), "nor traced it");
    } else {
      assert.equal(left[0].ID, 1, "without isolation every page sees and numbers every template");
    }
    await page.close();
  }
  assert.deepEqual(sent[true], sent[false]);
});
