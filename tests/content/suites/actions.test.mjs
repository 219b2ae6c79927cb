// Actions, proven through the page's own event handlers and what the form sends.
import assert from "node:assert/strict";
import { test } from "node:test";
import { Store, openPage, visit, waitFor } from "../harness.mjs";
import { byId, env, loginTemplate } from "./common.mjs";

async function run(steps, { fixture = "login.html", beforeScript } = {}) {
  const store = new Store([{ url: `${env.base}/${fixture}*`, elements: steps }], 1);
  const page = await openPage(env.browser, store, { beforeScript });
  await visit(page, `${env.base}/${fixture}`);
  return { page, store };
}

test("text, sendEvent and click fill and submit the form through the page's handlers", async () => {
  const { page, store } = await run([
    { find: byId("user"), actions: [{ type: "text", value: "alice" }, { type: "sendEvent", event: "input" }] },
    { find: byId("pass"), actions: [{ type: "text", value: "p@ss w" }, { type: "sendEvent", event: "change" }] },
    { find: byId("go"), actions: [{ type: "click" }] },
  ]);
  await page.waitForURL(/\/welcome/);
  assert.equal(await page.textContent("#sent-user"), "user=alice");
  assert.equal(await page.textContent("#sent-pass"), "pass=p@ss w");
  await waitFor(() => store.templateWrites >= 1);
  assert.deepEqual(store.parsed, []);
  await page.close();
});

test("events reach the page's handlers by the createEvent path, and by fireEvent without it", async () => {
  let { page } = await run([{ find: byId("user"), actions: [{ type: "sendEvent", event: "custom" }] }]);
  assert.deepEqual(await page.evaluate(() => pageLog), ["custom:user="]);
  await page.close();

  // Internet Explorer before version 9 has no document.createEvent, only element.fireEvent.
  ({ page } = await run([{ find: byId("user"), actions: [{ type: "sendEvent", event: "custom" }] }], {
    beforeScript: () => {
      delete Document.prototype.createEvent;
      window.fired = [];
      Element.prototype.fireEvent = function (name) {
        fired.push(this.id + " " + name);
        this.dispatchEvent(new Event(name.slice(2), { bubbles: true }));
      };
    },
  }));
  assert.deepEqual(await page.evaluate(() => fired), ["user oncustom"]);
  assert.deepEqual(await page.evaluate(() => pageLog), ["custom:user="]);
  await page.close();
});

test("click enables a disabled element first", async () => {
  const { page } = await run([{ find: byId("locked"), actions: [{ type: "click" }] }]);
  assert.ok((await page.evaluate(() => pageLog)).includes("locked pressed"));
  assert.equal(await page.isDisabled("#locked"), false);
  await page.close();
});

test("select picks by value or text, by the list's value, or by text alone", async () => {
  const cases = [
    [{ value: 2 }, "2"], [{ value: "2" }, "2"], [{ value: "Germany" }, "de"], [{ value: "nothing" }, ""],
    [{ byValue: "de" }, "de"], [{ byDisplay: "2" }, "2b"], [{ byDisplay: "Two" }, "2"],
  ];
  for (const [fields, expected] of cases) {
    const { page } = await run([{ find: byId("country"), actions: [{ type: "select", ...fields }] }]);
    assert.equal(await page.inputValue("#country"), expected, JSON.stringify(fields));
    await page.close();
  }
  const { page } = await run([{ find: byId("country"), actions: [{ type: "select" }] }]);
  assert.ok(page.traces.includes("content -> CheckTemplate: perform action failed"), "select without a rule fails");
  await page.close();
});

test("checkbox ticks only for the string true, and needs selected", async () => {
  for (const [selected, expected] of [["true", true], [true, false], ["false", false], [1, false]]) {
    const { page } = await run([{ find: byId("terms"), actions: [{ type: "checkbox", selected }] }]);
    assert.equal(await page.isChecked("#terms"), expected, JSON.stringify(selected));
    await page.close();
  }
  const { page } = await run([{ find: byId("remember"), actions: [{ type: "checkbox" }] }]);
  assert.ok(page.traces.includes("content -> CheckTemplate: perform action failed"));
  assert.equal(await page.isChecked("#remember"), false);
  await page.close();
});

test("enable disables for false-like values only", async () => {
  for (const [fields, disabled] of [[{ value: false }, true], [{ value: 0 }, true], [{ value: "" }, true],
                                    [{ value: "false" }, false], [{}, false], [{ value: true }, false]]) {
    const { page } = await run([{ find: byId("locked"), actions: [{ type: "enable", ...fields }] }]);
    assert.equal(await page.isDisabled("#locked"), disabled, JSON.stringify(fields));
    await page.close();
  }
});

test("keypress, httpBasicAuth and unknown types do nothing and count as done", async () => {
  const { page, store } = await run([{ find: byId("user"), actions: [{ type: "keypress" }, { type: "teleport" },
                                                                      { type: "httpBasicAuth", username: "u", password: "p" }] }]);
  await waitFor(() => store.templateWrites === 1);
  assert.deepEqual(store.parsed, []);
  assert.deepEqual(await page.evaluate(() => pageLog), []);
  await page.close();
});

test("text followed by an input event reaches a React component's onChange", async () => {
  const { page } = await run([
    { find: byId("user"), actions: [{ type: "text", value: "alice" }, { type: "sendEvent", event: "input" }] },
    { find: byId("pass"), actions: [{ type: "text", value: "secret" }, { type: "sendEvent", event: "input" }] },
    { find: byId("go"), actions: [{ type: "click" }] },
  ], { fixture: "react.html" });
  assert.deepEqual(await page.evaluate(() => reactLog), ["change user=alice", "change pass=secret",
                                                         "submit user=alice pass=secret"]);
  await page.close();
});

test("a plain assignment would have been lost on the React page", async () => {
  // The page as a plain "value = x" leaves it: React's copy equals the new value and the
  // input event is ignored. This is what the prototype setter avoids.
  const store = new Store("", 0);
  const page = await openPage(env.browser, store);
  await visit(page, `${env.base}/react.html`);
  await page.evaluate(() => {
    const user = document.getElementById("user");
    user.value = "alice";
    user.dispatchEvent(new Event("input", { bubbles: true }));
  });
  assert.deepEqual(await page.evaluate(() => reactLog), []);
  await page.close();
});
