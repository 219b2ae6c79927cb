// No write lost between tabs: with the x64 build's real store and tool, a tab that read the store
// before others wrote it changes only what it changed.
import assert from "node:assert/strict";
import { mkdtempSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { test } from "node:test";
import { RealStore, openPage, runTool, visit, waitFor, windowsPath, wineMissing } from "../harness.mjs";
import { byId, env } from "./common.mjs";

const page = (title, body) => `<!doctype html><html><head><meta charset="utf-8"><title>${title}</title></head><body>${body}</body></html>`;
const html = (response, text, status = 200, headers = {}) => {
  response.writeHead(status, { "content-type": "text/html; charset=utf-8", ...headers });
  response.end(text);
};

test("a tab's write-back loses neither a sign-on the tool put nor an outcome another tab wrote meanwhile",
     { skip: wineMissing, timeout: 180000 }, async () => {
  const site = { posts: 0 };
  // Site A: a button that shows up when the page says so; site B: a login that welcomes a moment
  // after it took the password.
  env.server.routes.set("/t/a/page", (request, response) => html(response, page("A", `<div id="slot"></div>
    <script>window.show = () => { document.getElementById("slot").innerHTML = '<button id="later">Go</button>'; };</script>`)));
  env.server.routes.set("/t/b/login", (request, response, form) => {
    if (request.method !== "POST") return html(response, page("Sign in", `<form method="post"><input id="user" name="user">
      <input id="pass" name="pass" type="password"><button id="go" type="submit">Sign in</button></form>`));
    site.posts++;
    html(response, "", 303, { location: "/t/b/home" });
  });
  env.server.routes.set("/t/b/home", (request, response) => html(response, page("Home", `<div id="slot"></div>
    <script>setTimeout(() => { document.getElementById("slot").innerHTML = '<h1 id="welcome">Welcome</h1>'; }, 2500);</script>`)));
  const file = join(mkdtempSync(join(tmpdir(), "velnor-tabs-")), "catalog.json");
  writeFileSync(file, JSON.stringify([{
    name: "tabs-b", launch: `${env.base}/t/b/login`, credential: "Velnor:tabs-b",
    template: { url: `${env.base}/t/b/*`, verify: { success: [byId("welcome")], within: 10 }, elements: [
      { find: byId("user"), actions: [{ type: "text", valueFrom: "username" }] },
      { find: byId("pass"), actions: [{ type: "text", valueFrom: "password" }] },
      { find: byId("go"), actions: [{ type: "click" }] }] },
  }]));
  const catalog = windowsPath(file);
  const retrying = { url: `${env.base}/t/a/*`, maxRetries: -1, retryInterval: 1,
                     elements: [{ find: byId("later"), actions: [{ type: "click" }] }] };
  const store = await RealStore.open();
  try {
    assert.equal((await runTool(["cred", "set", "Velnor:tabs-b", "alice"], { input: "pw\n" })).code, 0);
    await store.set([retrying]);
    const a = await openPage(env.browser, store);
    await visit(a, `${env.base}/t/a/page`);

    // The tool puts B's sign-on while A retries its own; A then runs its own and drops it.
    assert.equal((await runTool(["launch", "tabs-b", "--catalog", catalog, "--no-browser"])).code, 0);
    await a.evaluate(() => window.show());
    await waitFor(async () => !(await store.text()).includes("/t/a/*"), 10000, "A's template run and dropped");
    assert.ok((await store.text()).includes("launchId"), "B's sign-on is still there after A's write-back");
    const b = await openPage(env.browser, store);
    await visit(b, `${env.base}/t/b/login`);
    await waitFor(() => site.posts === 1, 10000, "B signed on");
    await waitFor(() => b.injections === 2, 10000, "the content script on B's home page");
    await b.close();

    // B's outcome record is written while A, which read the store before, writes back.
    await store.set([retrying]);
    await visit(a, `${env.base}/t/a/page`);
    const launched = runTool(["launch", "tabs-b", "--catalog", catalog, "--no-browser", "--wait", "30"]);
    await waitFor(async () => (await store.text()).includes("launchId"), 30000, "the sign-on in the store");
    const c = await openPage(env.browser, store);
    await visit(c, `${env.base}/t/b/login`);
    await waitFor(async () => (await store.text()).includes('"submitted"'), 10000, "B's record");
    await a.evaluate(() => window.show());
    await waitFor(async () => !(await store.text()).includes("/t/a/*"), 10000, "A's write-back");
    const result = await launched;
    await c.close();
    await a.close();
    assert.equal(result.code, 0, result.out);
    assert.match(result.out, /succeeded \(seen on the page\)/);
    assert.equal(site.posts, 2);
  } finally {
    await runTool(["cred", "delete", "Velnor:tabs-b"]);
    await store.close();
  }
});
