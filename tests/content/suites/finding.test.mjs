// Finding elements: every find type, in the page and its frames depth first, with frames of
// another origin skipped.
import assert from "node:assert/strict";
import { test } from "node:test";
import { Store, openPage, visit, waitFor } from "../harness.mjs";
import { env } from "./common.mjs";

// Runs one template that types `marker` into whatever `find` finds on `page`.
async function typeInto(fixture, find, marker = "found") {
  const store = new Store([{ url: `${env.base}/${fixture}*`, elements: [{ find, actions: [{ type: "text", value: marker }] }] }], 1);
  const page = await openPage(env.browser, store);
  await visit(page, `${env.base}/${fixture}`);
  return { page, store };
}

test("id, name, class, selector and xpath find the first matching element", async () => {
  for (const find of [{ type: "id", value: "user" }, { type: "name", value: "user" }, { type: "class", value: "login-user" },
                      { type: "selector", value: "form input.field" }, { type: "xpath", value: "//input[@name='user']" }]) {
    const { page } = await typeInto("login.html", find);
    assert.equal(await page.inputValue("#user"), "found", find.type);
    assert.equal(await page.inputValue("#pass"), "", find.type);
    await page.close();
  }
  // The first of several: name and class lists, and a selector.
  const { page } = await typeInto("login.html", { type: "class", value: "field" });
  assert.equal(await page.inputValue("#user"), "found");
  await page.close();
});

test("an unknown find type finds nothing anywhere and is no exception", async () => {
  const { page, store } = await typeInto("frames.html", { type: "tag", value: "input" });
  assert.ok(page.traces.includes("content -> CheckTemplate: find element failed"));
  // The one exception traced is the frame of another origin, as in every search of this page.
  assert.equal(page.traces.filter((line) => line.startsWith("FindWebElement() -> exception: ")).length, 1);
  await waitFor(() => store.templateWrites === 1);
  await page.close();
});

test("frames are searched depth first, and a frame of another origin is skipped", async () => {
  const { page } = await typeInto("frames.html", { type: "id", value: "deep" });
  const framed = (name) => page.frames().find((frame) => frame.url().endsWith(name) && frame.url().startsWith(env.base));
  // frames[0] is the other origin's frame-c; frames[1] (frame-a) holds frame-b: its input
  // comes before the one in frames[2] (frame-c of this origin).
  assert.equal(await framed("frame-b.html").inputValue("#deep"), "found");
  assert.equal(await framed("frame-c.html").inputValue("#deep"), "");
  const crossOrigin = page.frames().find((frame) => frame.url().startsWith("http://localhost"));
  assert.equal(await crossOrigin.inputValue("#deep"), "", "never touched");
  assert.equal(page.traces.filter((line) => line.startsWith("FindWebElement() -> exception: ")).length, 1,
               "the unreadable frame is traced once and the search goes on");
  await page.close();
});

test("every find type reaches into frames, except xpath", async () => {
  for (const find of [{ type: "name", value: "only-c" }, { type: "selector", value: "#only-c" }]) {
    const { page } = await typeInto("frames.html", find);
    const frame = page.frames().find((f) => f.url() === `${env.base}/frame-c.html`);
    assert.equal(await frame.inputValue("#only-c"), "found", find.type);
    await page.close();
  }
  const { page } = await typeInto("frames.html", { type: "class", value: "in-a" });
  assert.equal(await page.frames().find((f) => f.url().endsWith("frame-a.html")).inputValue("#in-a"), "found");
  await page.close();

  // XPath always searches the top-level document: an element only in a frame is not found.
  const xpath = await typeInto("frames.html", { type: "xpath", value: "//input[@id='in-a']" });
  assert.ok(xpath.page.traces.includes("content -> CheckTemplate: find element failed"));
  await xpath.page.close();
});

test("a step without find runs element-free actions only", async () => {
  const store = new Store([
    { url: `${env.base}/login.html*`, elements: [{ actions: [{ type: "keypress" }] }] },
    { url: `${env.base}/login.html*`, title: "Sign in", elements: [{ actions: [{ type: "text", value: "x" }] }] },
  ], 1);
  const page = await openPage(env.browser, store);
  await visit(page, `${env.base}/login.html`);
  await waitFor(() => store.templateWrites === 2);
  assert.deepEqual(store.parsed, []);
  // The search without a definition fails inside its guard; "text" then has no element.
  assert.ok(page.traces.some((line) => line.startsWith("FindWebElement() -> exception: ")));
  assert.equal(page.traces.filter((line) => line === "content -> CheckTemplate: perform action failed").length, 1);
  await page.close();
});

test("a step acts only on an element the page shows, but for hidden inputs and boxes the page draws itself", async () => {
  // Shown 130 and 390 ms after load, as seen on real pages (the script may start before or after),
  // and shown only once the script has looked and not found it.
  for (const after of [130, 390, "later"]) {
    const type = (name, value) => ({ find: { type: "name", value: name }, actions: [{ type: "text", value, events: true }] });
    const store = new Store([{ url: `${env.base}/fade-in.html*`, maxRetries: 5, elements: [
      type("user", "alice"), type("pass", "pw"), type("tz", "Europe/Berlin"),
      { find: { type: "name", value: "stay" }, actions: [{ type: "checkbox", selected: "true", byClick: true }] },
      { find: { type: "selector", value: "#wide button" }, actions: [{ type: "click" }] }] }], 1);
    const page = await openPage(env.browser, store);
    await visit(page, `${env.base}/fade-in.html${after === "later" ? "" : `?after=${after}`}`);
    if (after === "later") {
      await waitFor(() => page.traces.includes("content -> CheckTemplate: find element failed"), 10000, "a look before it was shown");
      await page.evaluate(() => window.showForm());
    }
    await page.waitForURL(/\/welcome/);
    // Not the hidden form's fields, first in the page, nor the shown form's before it was shown.
    assert.deepEqual(Object.fromEntries(new URL(page.url()).searchParams),
                     { user: "alice", pass: "pw", tz: "Europe/Berlin", stay: "on" }, `shown after ${after} ms`);
    await page.close();
  }
});
