// Filling in as a person types: the events of typing after "text", a toggling click for a
// checkbox, and input and change after "select" — so that pages that keep their own copy of each
// field, or validate as you type, sign on without "sendEvent" steps.
import assert from "node:assert/strict";
import { test } from "node:test";
import { Store, openPage, visit, waitFor } from "../harness.mjs";
import { byId, env } from "./common.mjs";

async function signOn(fixture, elements) {
  const store = new Store([{ url: `${env.base}/${fixture}*`, elements }], 1);
  const page = await openPage(env.browser, store);
  await visit(page, `${env.base}/${fixture}`);
  return { page, store };
}

test("a React login dialog signs on from text with events, a checkbox by click and a select with events", async () => {
  const { page, store } = await signOn("react-login.html", [
    { find: byId("user"), actions: [{ type: "text", value: "alice", events: true }] },
    { find: byId("pass"), actions: [{ type: "text", value: "s3cret", events: true }] },
    { find: byId("remember"), actions: [{ type: "checkbox", selected: "true", byClick: true }] },
    { find: byId("domain"), actions: [{ type: "select", value: "lab", events: true }] },
    { find: byId("go"), actions: [{ type: "click" }] },
  ]);
  await waitFor(() => store.templateWrites === 1);
  assert.deepEqual(await page.evaluate(() => reactLog), ["submit user=alice pass=s3cret remember=true domain=lab"]);
  await page.close();

  // Without them the component never learns of the values: its button stays disabled and the
  // box ticked by assignment is not its state.
  const without = await signOn("react-login.html", [
    { find: byId("user"), actions: [{ type: "text", value: "alice" }] },
    { find: byId("pass"), actions: [{ type: "text", value: "s3cret" }] },
    { find: byId("remember"), actions: [{ type: "checkbox", selected: "true" }] },
    { find: byId("go"), actions: [{ type: "click" }] },
  ]);
  await waitFor(() => without.store.templateWrites === 1);
  assert.deepEqual(await without.page.evaluate(() => reactLog), ["submit user= pass= remember=false domain=corp"]);
  await without.page.close();
});

test("byClick leaves a box that is already in the wanted state alone", async () => {
  const { page, store } = await signOn("react-login.html", [
    { find: byId("remember"), actions: [{ type: "checkbox", selected: "true", byClick: true },
                                        { type: "checkbox", selected: "true", byClick: true }] },
    { find: byId("user"), actions: [{ type: "text", value: "u", events: true }] },
    { find: byId("pass"), actions: [{ type: "text", value: "p", events: true }] },
    { find: byId("go"), actions: [{ type: "click" }] },
  ]);
  await waitFor(() => store.templateWrites === 1);
  assert.deepEqual(await page.evaluate(() => reactLog), ["submit user=u pass=p remember=true domain=corp"]);
  await page.close();
});

test("a page that validates on keyup accepts the value, and sees a typing person's events in order", async () => {
  const { page } = await signOn("keyup.html", [
    { find: byId("account"), actions: [{ type: "text", value: "123456", events: true }] },
    { find: byId("go"), actions: [{ type: "click" }] },
  ]);
  await page.waitForURL(/\/welcome/);
  assert.equal(await page.textContent("#sent-account"), "account=123456");
  await page.close();

  const { page: plain } = await signOn("keyup.html", [{ find: byId("account"), actions: [{ type: "text", value: "123456", events: true }] }]);
  assert.deepEqual(await plain.evaluate(() => pageLog), ["keydown", "keypress", "input", "keyup", "change"]);
  assert.equal(await plain.isDisabled("#go"), false);
  await plain.close();
});
