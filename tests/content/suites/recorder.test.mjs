// Recording a sign-on on the login page itself: "record" arms the store, the pages draft where
// their login fields are, the tool makes a catalog entry of the drafts, and "launch" signs on
// with that entry unchanged. Pages are Chromium's, the store and the tool the x64 build's.
import assert from "node:assert/strict";
import { mkdtempSync, readFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { test } from "node:test";
import { RealStore, openPage, runTool, visit, waitFor, windowsPath, wineMissing } from "../harness.mjs";
import { env } from "./common.mjs";

// Records one sign-on: `walk` takes the tab through the login as an administrator would.
async function record(store, name, catalog, url, { walk, beforeScript } = {}) {
  const recording = runTool(["record", "--name", name, "--wait", "60", "--into", windowsPath(catalog), "--origin", env.base,
                             "--yes"]);
  await waitFor(async () => (await store.text()).includes('"recorder"'), 30000, "the recorder in the store");
  const tab = await openPage(env.browser, store, { beforeScript });
  await visit(tab, url);
  if (walk) await walk(tab);
  const result = await recording;
  await tab.close();
  assert.equal(result.code, 0, result.out);
  const stored = await store.text();
  assert.ok(!stored.includes('"recorder"') && !stored.includes('"draft"'), "the recorder and its drafts are gone");
  return result;
}

// Signs on with the recorded entry, as the browser that launch opens would.
async function launch(store, name, catalog, url) {
  const launched = await runTool(["launch", name, "--catalog", windowsPath(catalog), "--no-browser"]);
  assert.equal(launched.code, 0, launched.out);
  const tab = await openPage(env.browser, store);
  await visit(tab, url);
  return tab;
}

const sent = async (frame, field) => (await frame.textContent(`#sent-${field}`))?.split("=")[1];

test("recorded on five kinds of login page, each entry then signs on there unchanged", { skip: wineMissing }, async () => {
  const folder = mkdtempSync(join(tmpdir(), "velnor-record-"));
  const catalog = join(folder, "catalog.json");
  const store = await RealStore.open();
  const pages = [];   // every text a page wrote to the store while recording
  const writeBy = store.writeBy.bind(store);
  store.writeBy = (url, text, tab) => (pages.push(text), writeBy(url, text, tab));
  const cases = [
    {
      name: "rec-plain", url: `${env.base}/login.html`,
      // Typed before the content script runs: the drafts hold where the fields are, not this.
      beforeScript: () => {
        document.getElementById("user").value = "typed-by-hand";
        document.getElementById("pass").value = "typed-secret";
      },
      check: async (tab) => {
        await tab.waitForURL(/\/welcome/);
        assert.equal(await sent(tab, "user"), "alice");
        assert.equal(await sent(tab, "pass"), "pw-rec-plain");
      },
      finds: { user: { type: "id", value: "user" }, password: { type: "id", value: "pass" }, submit: { type: "id", value: "go" } },
    },
    {
      name: "rec-two", url: `${env.base}/step1.html`,
      walk: async (tab) => {
        await tab.fill("#user", "someone");
        await tab.click("#next");
        await waitFor(() => tab.injections >= 2, 10000, "the password page");
      },
      check: async (tab) => {
        await tab.waitForURL(/\/welcome/);
        assert.equal(await sent(tab, "user"), "alice");
        assert.equal(await sent(tab, "pass"), "pw-rec-two");
      },
    },
    {
      name: "rec-frame", url: `${env.base}/frame-login.html`,
      check: async (tab) => {
        await waitFor(() => tab.frames().some((f) => f.url().includes("/welcome")), 10000, "the frame's form sent");
        const welcome = tab.frames().find((f) => f.url().includes("/welcome"));
        assert.equal(await sent(welcome, "login"), "alice");
        assert.equal(await sent(welcome, "secret"), "pw-rec-frame");
      },
    },
    {
      name: "rec-react", url: `${env.base}/react-login.html`,
      check: async (tab) => {
        await waitFor(() => tab.evaluate(() => window.reactLog.length > 0), 10000, "React's submit");
        assert.deepEqual(await tab.evaluate(() => window.reactLog), ["submit user=alice pass=pw-rec-react remember=false domain=corp"]);
      },
    },
    {
      // An e-mail field: the browser submits it only with an address in it.
      name: "rec-generated", url: `${env.base}/generated.html`, user: "alice@example.com",
      check: async (tab) => {
        await tab.waitForURL(/\/welcome/);
        assert.equal(decodeURIComponent(await sent(tab, "field_172635")), "alice@example.com");
        assert.equal(await sent(tab, "pw_88213"), "pw-rec-generated");
      },
      finds: { user: { type: "selector", value: 'input[type="email"]' }, password: { type: "selector", value: 'input[type="password"]' },
               submit: { type: "selector", value: "button.primary" } },
    },
  ];
  try {
    for (const c of cases) {
      await record(store, c.name, catalog, c.url, c);
      const entry = JSON.parse(readFileSync(catalog, "utf8")).find((e) => e.name === c.name);
      assert.ok(entry, `${c.name} added to the catalog`);
      if (c.finds) {
        const steps = entry.template.elements;
        assert.deepEqual([steps[0].find, steps[1].find, steps[2].find], [c.finds.user, c.finds.password, c.finds.submit], c.name);
      }
      assert.equal((await runTool(["cred", "set", entry.credential, c.user || "alice"], { input: `pw-${c.name}\n` })).code, 0);
      const tab = await launch(store, c.name, catalog, c.url);
      await c.check(tab);
      await tab.close();
      await runTool(["cred", "delete", entry.credential]);
    }
    const recorded = pages.join("\n");
    assert.ok(recorded.includes('"draft"'), "the pages wrote drafts");
    assert.ok(!recorded.includes("typed-secret") && !recorded.includes("typed-by-hand") && !recorded.includes("someone"),
              "no draft holds a typed value");
    // A name already in the catalog is refused; nothing is added twice.
    const before = readFileSync(catalog, "utf8");
    const again = runTool(["record", "--name", "rec-plain", "--wait", "60", "--into", windowsPath(catalog)],
                          { input: "y\ny\n" });
    await waitFor(async () => (await store.text()).includes('"recorder"'), 30000, "the recorder in the store");
    const tab = await openPage(env.browser, store);
    await visit(tab, `${env.base}/login.html`);
    const refused = await again;
    await tab.close();
    assert.equal(refused.code, 1, refused.out);
    assert.match(refused.out, /has an entry named rec-plain already/);
    assert.equal(readFileSync(catalog, "utf8"), before);
  } finally {
    await store.close();
  }
});

test("the recorder leaves the store when its time runs out, having seen no login form", { skip: wineMissing }, async () => {
  const store = await RealStore.open();
  try {
    await store.set([{ url: "https://kept.example/*", elements: [] }]);
    const before = await store.text();
    const result = await runTool(["record", "--wait", "2"]);
    assert.equal(result.code, 3, result.out);
    assert.match(result.out, /nothing recorded: no page showed a login form with a password field within 2 seconds/);
    assert.equal(await store.text(), before, "the store as it was");
  } finally {
    await store.close();
  }
});

test("a page of another site cannot take over a recording: its drafts are ignored, whatever they say", { skip: wineMissing }, async () => {
  const folder = mkdtempSync(join(tmpdir(), "velnor-record-"));
  const catalog = join(folder, "catalog.json");
  const store = await RealStore.open();
  const other = env.base.replace("127.0.0.1", "localhost");
  try {
    const recording = runTool(["record", "--name", "rec-guarded", "--wait", "60", "--into", windowsPath(catalog),
                               "--origin", env.base, "--yes"]);
    await waitFor(async () => (await store.text()).includes('"recorder"'), 30000, "the recorder in the store");
    // A page of another origin drafts a form of its choosing, dated far ahead, naming a page of
    // the site being recorded; a page of the site names one of another site.
    const forge = (page, pageUrl) => page.evaluate(([pageUrl]) => {
      const entries = JSON.parse(window.VelnorIEExt.Templates);
      const recorder = entries.find((entry) => typeof entry.recorder === "string").recorder;
      entries.push({ draft: recorder, url: pageUrl + "*", page: pageUrl, at: 99999999999, key: "0:forged",
                     user: { type: "id", value: "pass" }, password: { type: "id", value: "user" },
                     submit: { type: "id", value: "go" }, stamp: { origin: new URL(pageUrl).origin, at: 99999999999 } });
      window.VelnorIEExt.Templates = JSON.stringify(entries);
    }, [pageUrl]);
    const hostile = await openPage(env.browser, store);
    await visit(hostile, `${other}/late.html`);
    await forge(hostile, `${env.base}/login.html`);
    const site = await openPage(env.browser, store);
    await visit(site, `${env.base}/frames.html`);
    await forge(site, "http://intranet.example.com/login");
    const tab = await openPage(env.browser, store);
    await visit(tab, `${env.base}/login.html`);
    const result = await recording;
    for (const page of [hostile, site, tab]) await page.close();
    assert.equal(result.code, 0, result.out);
    assert.ok(result.out.includes(`ignored: drafts written by pages of ${other}, which is not the site recorded`), result.out);
    assert.ok(result.out.includes(`ignored: drafts written by pages of ${env.base} that name a page of another site`), result.out);
    const entry = JSON.parse(readFileSync(catalog, "utf8")).find((e) => e.name === "rec-guarded");
    assert.equal(entry.launch, `${env.base}/login.html`);
    assert.deepEqual(entry.template.elements.map((step) => step.find?.value), ["user", "pass", "go"]);
  } finally {
    await store.close();
  }
});
