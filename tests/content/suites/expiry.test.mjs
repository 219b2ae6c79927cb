// Launched sign-ons carry "expires" (seconds since 1970 UTC): a page that loads after that time
// drops such a template unused, and everything else runs as before.
import assert from "node:assert/strict";
import { test } from "node:test";
import { Store, openPage, visit, waitFor } from "../harness.mjs";
import { byId, env, loginTemplate } from "./common.mjs";

const now = () => Math.floor(Date.now() / 1000);

test("an expired template is dropped unused: nothing typed, no Basic credentials, gone from the store", async () => {
  const basic = { actions: [{ type: "httpBasicAuth", username: "old", password: "stale-secret" }] };
  const store = new Store([
    loginTemplate([{ find: byId("pass"), actions: [{ type: "text", value: "stale-secret" }] }, basic],
                  { expires: now() - 5, launchId: "a" }),
    { url: "http://elsewhere/*", elements: [], owner: "kept" },
    loginTemplate([{ find: byId("user"), actions: [{ type: "text", value: "fresh" }] }],
                  { expires: now() + 600, launchId: "b" }),
  ], 1);
  const page = await openPage(env.browser, store);
  await visit(page, `${env.base}/login.html`);
  assert.equal(await page.inputValue("#user"), "fresh", "a template whose time has not come runs");
  assert.equal(await page.inputValue("#pass"), "", "the expired one typed nothing");
  await waitFor(() => store.templateWrites === 2, 5000, "the drop and the run written back");
  assert.deepEqual(store.authCreds, [], "an expired template hands no credentials over");
  assert.equal(store.parsed.length, 1);
  assert.equal(store.parsed[0].owner, "kept");
  assert.ok(!JSON.stringify(store.parsed).includes("stale-secret"));
  assert.ok(page.traces.includes("content -> OnTemplatesLoaded: template 1 expired, dropped"));
  await page.close();
});

test("templates without expires, or with one that is no number, are never dropped for it", async () => {
  const store = new Store([
    loginTemplate([{ find: byId("missing") }], { maxRetries: -1, expires: "yesterday" }),
    loginTemplate([{ find: byId("user"), actions: [{ type: "text", value: "plain" }] }]),
  ], 0);
  const page = await openPage(env.browser, store);
  await visit(page, `${env.base}/login.html`);
  assert.equal(await page.inputValue("#user"), "plain");
  await waitFor(() => store.templateWrites === 1);
  assert.equal(store.parsed.length, 1);
  assert.equal(store.parsed[0].expires, "yesterday", "carried along as any unknown field");
  await page.close();
});
