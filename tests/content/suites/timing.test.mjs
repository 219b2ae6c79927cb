// Delays, retries and sign-ons over several pages.
import assert from "node:assert/strict";
import { test } from "node:test";
import { Store, openPage, sleep, visit, waitFor } from "../harness.mjs";
import { byId, env, loginTemplate } from "./common.mjs";

const checks = (page, id = 1) => page.traces.filter((line) => line.startsWith(`content -> CheckTemplate: check template#${id} `));

test("a delay resumes the same step at the next action", async () => {
  const store = new Store([loginTemplate([
    { find: byId("user"), actions: [{ type: "text", value: "u" }, { type: "delay", value: 3000 }, { type: "click" }] },
    { find: byId("pass"), actions: [{ type: "text", value: "after" }] },
  ])], 1);
  const page = await openPage(env.browser, store);
  await visit(page, `${env.base}/login.html`);
  assert.equal(await page.inputValue("#user"), "u");
  assert.equal(await page.inputValue("#pass"), "", "nothing after the delay yet");
  assert.deepEqual(await page.evaluate(() => pageLog), []);
  await waitFor(() => store.templateWrites === 1, 15000, "the template to finish");
  // The element was found again and clicked, then the next step ran.
  assert.deepEqual(await page.evaluate(() => pageLog), ["click:user=u"]);
  assert.equal(await page.inputValue("#pass"), "after");
  assert.ok(page.traces.some((line) => line.startsWith("content -> OnDeferCheckTemplate: [object Object], 1")));
  assert.deepEqual(store.parsed, []);
  await page.close();
});

test("a delay's position travels with the template to the next page", async () => {
  const store = new Store([loginTemplate([
    { find: byId("user"), actions: [{ type: "delay", value: 60000 }, { type: "text", value: "resumed" }] },
  ]), loginTemplate([])], 1);
  let page = await openPage(env.browser, store);
  await visit(page, `${env.base}/login.html`);
  await waitFor(() => store.templateWrites === 1);
  await page.close();
  // The second template's drop wrote the first back with its saved position.
  assert.equal(store.parsed[0].startElement, 0);
  assert.equal(store.parsed[0].startAction, 1);

  page = await openPage(env.browser, store);
  await visit(page, `${env.base}/login.html`);
  assert.equal(await page.inputValue("#user"), "resumed");
  await page.close();
});

test("retries follow maxRetries and retryInterval, then the template is dropped", async () => {
  const store = new Store([loginTemplate([{ find: byId("late"), actions: [{ type: "text", value: "x" }] }],
                                         { maxRetries: 2, retryInterval: 1 })], 1);
  const page = await openPage(env.browser, store);
  const start = Date.now();
  await visit(page, `${env.base}/login.html`);
  await waitFor(() => store.templateWrites === 1, 10000, "the drop");
  const elapsed = Date.now() - start;
  assert.equal(checks(page).length, 3, "checked at load and twice more");
  assert.ok(elapsed >= 1800, `two one-second intervals passed (${elapsed} ms)`);
  assert.deepEqual(store.parsed, []);
  await page.close();
});

test("a retry finds an element that appeared meanwhile", async () => {
  const store = new Store([{ url: `${env.base}/late.html*`, maxRetries: 5, retryInterval: 1,
                             elements: [{ find: byId("late"), actions: [{ type: "text", value: "late" }] }] }], 1);
  const page = await openPage(env.browser, store);
  await visit(page, `${env.base}/late.html`);
  await page.evaluate(() => addLateField());
  await waitFor(() => store.templateWrites === 1, 5000);
  assert.equal(await page.inputValue("#late"), "late");
  await page.close();
});

test("maxRetries -1 retries for as long as the page stays, and stays -1", async () => {
  const store = new Store([loginTemplate([{ find: byId("late") }], { maxRetries: -1, retryInterval: 1 }),
                           loginTemplate([])], 1);
  const page = await openPage(env.browser, store);
  await visit(page, `${env.base}/login.html`);
  await waitFor(() => checks(page).length >= 3, 6000, "two retries");
  assert.equal(store.parsed[0].maxRetries, -1);
  await page.close();
});

test("maxRetries 0 drops at the first failure", async () => {
  const store = new Store([loginTemplate([{ find: byId("late") }])], 1);
  const page = await openPage(env.browser, store);
  await visit(page, `${env.base}/login.html`);
  await waitFor(() => store.templateWrites === 1);
  await sleep(1300);
  assert.equal(checks(page).length, 1);
  await page.close();
});

test("a two-step login signs on across two pages", async () => {
  const store = new Store([
    { url: `${env.base}/step1.html*`, elements: [
      { find: byId("user"), actions: [{ type: "text", value: "alice" }] },
      { find: byId("next"), actions: [{ type: "click" }] } ] },
    { url: `${env.base}/step2.html*`, title: "Step two", elements: [
      { find: byId("pass"), actions: [{ type: "text", value: "pw" }] },
      { find: { type: "xpath", value: "//button[@id='signin']" }, actions: [{ type: "click" }] } ] },
  ], 1);
  const page = await openPage(env.browser, store);
  await visit(page, `${env.base}/step1.html`);
  await page.waitForURL(/\/welcome/);
  await waitFor(() => store.templateWrites === 2, 10000);
  assert.equal(await page.textContent("#sent-user"), "user=alice");
  assert.equal(await page.textContent("#sent-pass"), "pass=pw");
  assert.deepEqual(store.parsed, []);
  await page.close();
});
