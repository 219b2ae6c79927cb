// The load pass: reading the store, credentials, ID numbering, dropping and write-back, tracing,
// and bad input that must never stop the script.
import assert from "node:assert/strict";
import { test } from "node:test";
import { Store, openPage, visit, waitFor } from "../harness.mjs";
import { byId, env, loginTemplate } from "./common.mjs";

test("an empty store checks nothing, writes nothing and traces the empty pass", async () => {
  const store = new Store("", 30);
  const page = await openPage(env.browser, store);
  await visit(page, `${env.base}/login.html`);
  assert.deepEqual(page.traces, [
    `content -> loaded: ${env.base}/login.html, Sign in`,
    "content -> OnTemplatesLoaded: ",
    "content -> OnTemplatesLoaded: templates count = 0",
    "content -> OnTemplatesLoaded: ",
  ]);
  assert.equal(store.templateWrites, 0);
  assert.deepEqual(store.authCreds, []);
  await page.close();
});

test("tracing follows DebugTime as it was when the page loaded", async () => {
  const store = new Store([loginTemplate([{ find: byId("user"), actions: [{ type: "text", value: "u" }] }])], 0);
  const page = await openPage(env.browser, store);
  await visit(page, `${env.base}/login.html`);
  assert.equal(await page.inputValue("#user"), "u");
  assert.deepEqual(page.traces, [], "no console output while DebugTime is 0");
  await page.close();
});

test("templates are renumbered and the pass continues at the same index after a drop", async () => {
  const store = new Store([
    loginTemplate([{ find: byId("user"), actions: [{ type: "text", value: "first" }] }], { ID: 7 }),
    { url: "http://elsewhere/*", elements: [], ID: 1 },
    loginTemplate([{ find: byId("pass"), actions: [{ type: "text", value: "third" }] }]),
  ], 1);
  const page = await openPage(env.browser, store);
  await visit(page, `${env.base}/login.html`);
  // Both templates that match ran in this pass, although the first was dropped before them.
  assert.equal(await page.inputValue("#user"), "first");
  assert.equal(await page.inputValue("#pass"), "third");
  await waitFor(() => store.templateWrites === 2, 5000, "two write-backs");
  // A template that does not match keeps everything but its ID and the defaults.
  assert.deepEqual(store.parsed, [{ url: "http://elsewhere/*", elements: [], ID: 1, maxRetries: 0, retryInterval: 1,
                                    startElement: 0, startAction: 0 }]);
  assert.ok(page.traces.includes("content -> CheckTemplate: check template#1 - http://elsewhere/*, undefined, retryInterval:1, maxRetries:0, " + `${env.base}/login.html`));
  await page.close();
});

test("a failed check without retries drops the template and the next one still runs", async () => {
  const store = new Store([
    loginTemplate([{ find: byId("missing"), actions: [{ type: "text", value: "x" }] }]),
    loginTemplate([{ find: byId("user"), actions: [{ type: "text", value: "second" }] }]),
  ], 1);
  const page = await openPage(env.browser, store);
  await visit(page, `${env.base}/login.html`);
  assert.equal(await page.inputValue("#user"), "second");
  await waitFor(() => store.templateWrites === 2);
  assert.deepEqual(store.parsed, []);
  assert.ok(page.traces.includes("content -> CheckTemplate: find element failed"));
  await page.close();
});

test("a template that fails is written back with its defaults, counted-down retries and unknown fields", async () => {
  const store = new Store([
    loginTemplate([{ find: byId("missing") }], { maxRetries: 3, owner: "ops", notes: { ticket: 12 } }),
    loginTemplate([]),   // runs at once: no steps
  ], 0);
  const page = await openPage(env.browser, store);
  await visit(page, `${env.base}/login.html`);
  await waitFor(() => store.templateWrites === 1);
  assert.deepEqual(store.parsed, [loginTemplate([{ find: byId("missing") }], {
    maxRetries: 2, owner: "ops", notes: { ticket: 12 }, ID: 1, retryInterval: 1, startElement: 0, startAction: 0 })]);
  await page.close();
});

test("a page that drops no template never writes the store", async () => {
  const text = JSON.stringify([{ url: "http://elsewhere/*", elements: [{ actions: [{ type: "keypress" }] }] }]);
  const store = new Store(text, 1);
  const page = await openPage(env.browser, store);
  await visit(page, `${env.base}/login.html`);
  assert.equal(store.templateWrites, 0);
  assert.equal(store.templates, text);
  await page.close();
});

test("every template hands over its Basic credentials, with passwords masked in the trace", async () => {
  const store = new Store([
    { url: "http://intranet/*", elements: [{ actions: [{ type: "httpBasicAuth", username: "alice", password: "s3cret" }] }] },
    loginTemplate([{ find: byId("user"), actions: [{ type: "text", value: "x" }] },
                   { actions: [{ type: "httpBasicAuth", username: "bob", password: 42 }, { type: "httpBasicAuth", username: "carol", password: "pw" }] }]),
    { url: "http://other/*", elements: [] },
  ], 1);
  const page = await openPage(env.browser, store);
  await visit(page, `${env.base}/login.html`);
  const login = `${env.base}/login.html*`;
  await waitFor(() => store.authCreds.length === 1);
  assert.deepEqual(store.authCreds, [
    `http://intranet/*\ralice\rs3cret\n${login}\rbob\r42\n${login}\rcarol\rpw`,
  ], "one record per action, also from the template that was dropped in this pass");
  assert.ok(page.traces.includes(`content -> OnTemplatesLoaded: http://intranet/*\ralice\r*****\n${login}\rbob\r*****\n${login}\rcarol\r*****`));
  assert.ok(!page.traces.some((line) => line.includes("s3cret")), "no password in any trace");
  await page.close();
});

test("store text that is not JSON is traced, leaves the store untouched and lets the script complete", async () => {
  const store = new Store("[{ not json", 1);
  const page = await openPage(env.browser, store);
  await visit(page, `${env.base}/login.html`);
  assert.equal(page.injections, 1, "the script completed");
  assert.deepEqual(page.errors, []);
  assert.ok(page.traces.some((line) => line.startsWith("content -> templates are not valid JSON: ")));
  assert.equal(store.templateWrites, 0);
  assert.deepEqual(store.authCreds, []);
  await page.close();
});

test("malformed templates are passed over and left as they are; the others still run", async () => {
  const malformed = [
    { elements: [] },                                                   // no url
    { url: `${env.base}/login.html*` },                                 // no elements
    { url: `${env.base}/login.html*`, elements: [{ actions: [null] }] },  // a null action
    { url: `${env.base}/login.html*`, elements: "abc" },                // elements not an array
    null, 5, "text",
  ];
  const store = new Store([
    ...malformed,
    loginTemplate([{ find: byId("user"), actions: [{ type: "text", value: "ran" }] },
                   { actions: [{ type: "httpBasicAuth", username: "u", password: "p" }] }]),
  ], 1);
  const page = await openPage(env.browser, store);
  await visit(page, `${env.base}/login.html`);
  assert.deepEqual(page.errors, []);
  assert.equal(await page.inputValue("#user"), "ran");
  await waitFor(() => store.templateWrites === 1);
  assert.deepEqual(store.parsed, malformed, "written back exactly as they were");
  assert.deepEqual(store.authCreds, [`${env.base}/login.html*\ru\rp`]);
  assert.equal(page.traces.filter((line) => / is malformed, passed over$/.test(line)).length, malformed.length);
  await page.close();
});

test("a top-level null or an action that throws does not stop the script", async () => {
  let store = new Store("null", 1);
  let page = await openPage(env.browser, store);
  await visit(page, `${env.base}/login.html`);
  assert.ok(page.traces.includes("content -> OnTemplatesLoaded: null"));
  await page.close();

  // A checkbox action on an element without "checked" works; a click on a text node's parent
  // whose click() throws is caught and fails the check.
  store = new Store([loginTemplate([{ find: byId("go"), actions: [{ type: "click" }] }]),
                     loginTemplate([{ find: byId("pass"), actions: [{ type: "text", value: "still" }] }])], 1);
  page = await openPage(env.browser, store, {
    beforeScript: () => { document.getElementById("go").click = () => { throw new Error("broken button"); }; },
  });
  await visit(page, `${env.base}/login.html`);
  assert.deepEqual(page.errors, []);
  assert.equal(await page.inputValue("#pass"), "still");
  assert.ok(page.traces.includes("content -> CheckTemplate: action exception: broken button"));
  await page.close();
});

test("a check whose actions change the page's URL: the checks after it in the same pass see the new URL", async () => {
  for (const debugTime of [0, 1]) {
    const other = { url: "https://elsewhere.example/*", elements: [] };
    const store = new Store([
      other,                                                                   // keeps the URL it read
      loginTemplate([{ find: byId("move"), actions: [{ type: "click" }] }]),  // its click moves the page
      { url: `${env.base}/moved.html`, elements: [] },                         // matches only the new URL
      loginTemplate([]),                                                       // matches only the old one
      other,
    ], debugTime);
    const page = await openPage(env.browser, store, {
      beforeScript: () => {
        const button = document.createElement("button");
        button.id = "move";
        button.type = "button";
        button.onclick = () => history.pushState(null, "", "/moved.html");
        document.body.appendChild(button);
      },
    });
    await visit(page, `${env.base}/login.html`);
    await waitFor(() => store.templateWrites === 2, 5000, "two drops");
    assert.deepEqual(store.parsed.map((t) => t.url), [other.url, `${env.base}/login.html*`, other.url],
                     `tracing ${debugTime ? "on" : "off"}: the template for the new URL ran, the one for the old stayed`);
    await page.close();
  }
});

test("a field whose text cannot be made stops its check, traced or not", async () => {
  for (const debugTime of [0, 1]) {
    // Text written as JSON: the object's "toString" member is no function.
    const store = new Store(`[{"url":"${env.base}/login.html*","retryInterval":{"toString":1},` +
                            `"elements":[{"find":{"type":"id","value":"user"},"actions":[{"type":"text","value":"x"}]}]},` +
                            `{"url":"${env.base}/login.html*","elements":[{"find":{"type":"id","value":"pass"},` +
                            `"actions":[{"type":"text","value":"second"}]}]}]`, debugTime);
    const page = await openPage(env.browser, store);
    await visit(page, `${env.base}/login.html`);
    await waitFor(() => store.templateWrites === 1, 5000, "the second template's drop");
    assert.equal(await page.inputValue("#user"), "", "the first template did not run");
    assert.equal(await page.inputValue("#pass"), "second");
    assert.equal(store.parsed.length, 1);
    assert.deepEqual(page.errors, []);
    await page.close();
  }
});

test("a template whose text cannot be made stops the pass before any check, traced or not", async () => {
  for (const debugTime of [0, 1]) {
    for (const name of ["toString", "valueOf", "\\u0074oString"]) {
      const rest = JSON.stringify([
        loginTemplate([{ find: byId("user"), actions: [{ type: "text", value: "x" }] }]),
        { url: "http://intranet/*", elements: [{ actions: [{ type: "httpBasicAuth", username: "u", password: "p" }] }] },
      ]).slice(1);
      // valueOf alone leaves the object its toString; both make "[object Object]" impossible.
      const member = name === "valueOf" ? `"toString":{},"valueOf":1` : `"${name}":1`;
      const store = new Store(`[{${member}},${rest}`, debugTime);
      const page = await openPage(env.browser, store);
      await visit(page, `${env.base}/login.html`);
      assert.equal(await page.inputValue("#user"), "", `${name}: no template ran`);
      assert.deepEqual(store.authCreds, [], `${name}: no credentials handed over`);
      assert.equal(store.templateWrites, 0);
      assert.equal(page.injections, 1, "the script completed");
      await page.close();
    }
  }
});
