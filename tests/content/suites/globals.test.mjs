// The script shares the page's global names: only its run state and its named functions are
// globals; its helpers are its own.
import assert from "node:assert/strict";
import { test } from "node:test";
import { Store, openPage, visit, waitFor } from "../harness.mjs";
import { byId, env } from "./common.mjs";

const named = ["trace", "UpdateGlobalTemplates", "SendElementEvent", "FindWebElement", "PerformAction", "RemoveTemplate",
               "CompareMaskedString", "OnDeferCheckTemplate", "CheckTemplate", "OnTemplatesLoaded"];
// Names the script's helpers had when they were globals, and names pages commonly use.
const helpers = ["ErrorText", "FindById", "ClassNames", "FindByClassName", "FindInDocument", "SetElementValue",
                 "SelectOption", "SendElementEvents", "RunElementStep", "DeferCheck", "RetryMilliseconds",
                 "IsWellFormedTemplate", "StartVelnorSSO", "ParseJson", "StringifyJson", "HasNativeJson",
                 "ParseJsonText", "JsonValueText", "JsonStringText", "JsonEscape", "OwnNames", "TYPING_EVENTS"];

test("the script adds its run state and named functions to the page's globals, and no helper", async () => {
  const page = await openPage(env.browser, new Store("", 0));
  await visit(page, `${env.base}/login.html`);
  const types = await page.evaluate(([a, b]) => [a.map((n) => typeof window[n]), b.filter((n) => n in window)],
                                    [named, helpers]);
  assert.deepEqual(types[0], named.map(() => "function"));
  assert.deepEqual(types[1], [], "no helper is a page global");
  assert.deepEqual(await page.evaluate(() => [typeof LogEnabledTime, Array.isArray(VelnorSSOTemplates)]), ["number", true]);
  await page.close();
});

test("a page's own globals of helper names survive, and replacing them between timer callbacks changes nothing", async () => {
  // Found only on a retry, then typed, a delay, and a change event from the timer after it.
  const store = new Store([{ url: `${env.base}/late.html*`, maxRetries: 5, retryInterval: 1,
                             elements: [{ find: byId("late"), actions: [{ type: "text", value: "typed" },
                                                                         { type: "delay", value: 300 },
                                                                         { type: "sendEvent", event: "change" }] }] }], 1);
  // The page defines its own functions under the helpers' names before the script runs.
  const page = await openPage(env.browser, store, {
    beforeScript: `(${(names) => {
      window.helperNames = names;
      window.pageOwn = {};
      for (const name of names) {
        window[name] = window.pageOwn[name] = function () { return "the page's " + name; };
      }
    }})(${JSON.stringify(helpers)})`,
  });
  await visit(page, `${env.base}/late.html`);
  const kept = await page.evaluate(() => window.helperNames.filter((name) => window[name] !== window.pageOwn[name]));
  assert.deepEqual(kept, [], "every global of the page is still its own");
  assert.equal(await page.evaluate(() => FindById()), "the page's FindById");

  // While the retry waits, the page puts functions under those names that would break the
  // sign-on if the script called them.
  await page.evaluate(() => {
    window.calledByScript = [];
    for (const name of window.helperNames) {
      window[name] = function () {
        window.calledByScript.push(name);
        throw new Error("page's " + name);
      };
    }
    document.getElementById("slot").addEventListener("change", (event) => window.calledByScript.push("change:" + event.target.value));
    addLateField();
  });
  await waitFor(() => store.templateWrites === 1, 8000, "the sign-on after the retry and the delay");
  assert.equal(await page.inputValue("#late"), "typed");
  assert.deepEqual(await page.evaluate(() => window.calledByScript), ["change:typed"], "only the page's own listener ran");
  assert.deepEqual(store.parsed, []);
  assert.ok(!page.traces.some((line) => line.includes("page's")), "no trace of the page's functions");
  assert.deepEqual(page.errors, []);
  await page.close();
});
