// Recording a sign-on on the login page itself: "record" arms the store, the pages draft where
// their login fields are, the tool makes a catalog entry of the drafts, and "launch" signs on
// with that entry unchanged. Pages are Chromium's, the store and the tool the x64 build's.
import assert from "node:assert/strict";
import { mkdtempSync, readFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { test } from "node:test";
import { RealStore, openPage, runTool, sleep, visit, waitFor, windowsPath, wineMissing } from "../harness.mjs";
import { env } from "./common.mjs";

// Records one sign-on: `walk` takes the tab through the login as an administrator would.
async function record(store, name, catalog, url, { walk, beforeScript, options = [] } = {}) {
  const recording = runTool(["record", "--name", name, "--wait", "60", "--into", windowsPath(catalog), "--origin", env.base,
                             "--yes", ...options]);
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

// The finds of the steps that type the user name and the password and of the last step (the click).
const credentialFinds = (entry) => {
  const steps = entry.template.elements;
  const typing = (from) => steps.find((step) => step.actions[0].valueFrom === from)?.find;
  return [typing("username"), typing("password"), steps[steps.length - 1].find];
};
// What the entry sets in the form's other fields, in order: "find value: setting".
const settings = (entry) => entry.template.elements.filter((step) => !step.actions[0].valueFrom && step.actions[0].type !== "click")
  .map((step) => `${step.find.value}: ${step.actions[0].value ?? step.actions[0].selected}`);

// A wiki's login page is named by its query; a form that signs in by script is sent to this.
function serveApplications() {
  env.server.routes.set("/doku.php", (request, response, body, url) => {
    const login = url.searchParams.get("do") === "login";
    response.writeHead(200, { "content-type": "text/html; charset=utf-8" });
    response.end(`<!doctype html><title>start [Wiki]</title><h1>Wiki</h1>` + (login
      ? `<form action="/welcome" method="get"><input type="hidden" name="sectok" value="${url.searchParams.get("sectok") ?? ""}">
         <input type="hidden" name="id" value="start"><input type="hidden" name="do" value="login">
         <label>Username <input type="text" name="u"></label> <label>Password <input type="password" name="p"></label>
         <label><input type="checkbox" name="r" value="1"> Remember me</label> <button type="submit">Log In</button></form>`
      : `<p>Nothing to sign in to here. <a href="?id=start&amp;do=login">Log In</a></p>`));
  });
  env.server.routes.set("/api/session", (request, response, body) => {
    response.writeHead(200, { "content-type": "text/plain" });
    response.end(`Signed in as ${body.get("username")} with ${body.get("password")} (${body.get("realm")})`);
  });
}

test("recorded on the kinds of login page administrators meet, each entry then signs on there unchanged", { skip: wineMissing }, async () => {
  serveApplications();
  const folder = mkdtempSync(join(tmpdir(), "velnor-record-"));
  const catalog = join(folder, "catalog.json");
  const store = await RealStore.open();
  const pages = [];   // every text a page wrote to the store while recording
  const writeBy = store.writeBy.bind(store);
  store.writeBy = (url, text, tab) => (pages.push(text), writeBy(url, text, tab));
  const wikiToken = "9f86d081884c7d659a2feaa0c55ad015";
  // What the administrator types that no draft may hold: user names, passwords, a one-time code.
  const typed = ["typed-secret", "typed-by-hand", "someone", "admin-typed", "493817"];
  const cases = [
    {
      name: "rec-plain", url: `${env.base}/login.html`,
      // Typed before the content script runs: the drafts hold where the fields are, not this.
      beforeScript: () => {
        document.getElementById("user").value = "typed-by-hand";
        document.getElementById("pass").value = "typed-secret";
      },
      walk: async (tab) => {
        await tab.selectOption("#country", "de");
        await tab.click("#go");
      },
      check: async (tab) => {
        await tab.waitForURL(/\/welcome/);
        assert.equal(await sent(tab, "user"), "alice");
        assert.equal(await sent(tab, "pass"), "pw-rec-plain");
        assert.equal(await sent(tab, "country"), "de");
      },
      finds: { user: { type: "id", value: "user" }, password: { type: "id", value: "pass" }, submit: { type: "id", value: "go" } },
      settings: ["country: de", "remember: false", "terms: true"],
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
      walk: async (tab) => {
        await tab.fill("#user", "admin-typed");
        await tab.fill("#pass", "typed-secret");
        await tab.click("#go");
      },
      check: async (tab) => {
        await waitFor(() => tab.evaluate(() => window.reactLog.length > 0), 10000, "React's submit");
        assert.deepEqual(await tab.evaluate(() => window.reactLog), ["submit user=alice pass=pw-rec-react remember=false domain=corp"]);
      },
      settings: ["remember: false", "domain: corp"],
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
    {
      // Named by its query, with a token for one visit in it and a fragment: the entry opens
      // the page without them, the url pattern covers it whatever its query.
      name: "rec-wiki", url: `${env.base}/doku.php?id=start&do=login&sectok=${wikiToken}#dokuwiki__top`,
      walk: async (tab) => {
        await tab.fill("input[name=u]", "admin-typed");
        await tab.fill("input[name=p]", "typed-secret");
        await tab.click("button[type=submit]");
      },
      launchAt: (entry) => {
        assert.equal(entry.launch, `${env.base}/doku.php?id=start&do=login`);
        assert.equal(entry.template.url, `${env.base}/doku.php*`);
        return entry.launch;
      },
      out: /note: launch opens the login page without sectok of its address, which look like values for one visit/,
      check: async (tab) => {
        await tab.waitForURL(/\/welcome/);
        assert.equal(await sent(tab, "u"), "alice");
        assert.equal(await sent(tab, "p"), "pw-rec-wiki");
        assert.equal(await sent(tab, "do"), "login");
      },
      settings: ["r: false"],
    },
    {
      // A list, a second text field and a check box beside user name and password, set before
      // the password in the page's order; a one-time code field and the page's own token left alone.
      name: "rec-db", url: `${env.base}/db-login.html`,
      walk: async (tab) => {
        await tab.selectOption("select[name=driver]", "pgsql");
        await tab.fill("input[name=server]", "db.example:5432");
        await tab.fill("#username", "admin-typed");
        await tab.fill("input[name=password]", "typed-secret");
        await tab.fill("input[name=otp]", "493817");
        await tab.check("input[name=permanent]");
        await tab.click("input[type=submit]");
      },
      check: async (tab) => {
        await tab.waitForURL(/\/welcome/);
        const got = Object.fromEntries(new URL(tab.url()).searchParams);
        assert.deepEqual({ ...got, token: undefined }, { driver: "pgsql", server: "db.example:5432", username: "alice",
                                                         password: "pw-rec-db", otp: "", db: "", permanent: "1", token: undefined });
      },
      settings: ["driver: pgsql", "server: db.example:5432", "permanent: true"],
      order: ["driver", "server", "username", "permanent", "password"],
    },
    {
      // A search box's submit control looks like the login form's, a hidden default button comes
      // first, and the login form's is marked "default" while a field has focus (Enter sends it).
      name: "rec-submits", url: `${env.base}/two-submits.html`,
      walk: async (tab) => {
        await tab.fill("input[name=user]", "admin-typed");
        await tab.fill("input[name=pass]", "typed-secret");
        await tab.press("input[name=pass]", "Enter");
      },
      finds: { user: { type: "name", value: "user" }, password: { type: "name", value: "pass" },
               submit: { type: "selector", value: 'form.login input[type="submit"]' } },
      check: async (tab) => {
        await tab.waitForURL(/\/welcome/);
        assert.equal(await sent(tab, "user"), "alice");
        assert.equal(await sent(tab, "pass"), "pw-rec-submits");
      },
    },
    {
      // A login dialog a person opens with a click, some seconds after the page loaded: the entry
      // waits for it, and types nothing into it while it is closed.
      name: "rec-dialog", url: `${env.base}/dialog-login.html`,
      walk: async (tab) => {
        await sleep(3000);
        await tab.click("#open");
        await tab.fill("input[name=username]", "admin-typed");
        await tab.fill("input[name=password]", "typed-secret");
        await tab.selectOption("select[name=realm]", "lab");
        await tab.click("button[type=submit]");
      },
      check: async (tab) => {
        await sleep(12000);
        assert.deepEqual(await tab.evaluate(() => [window.whileClosed, document.querySelector("input[name=username]").value]),
                         [[], ""], "nothing reached the closed dialog");
        await tab.click("#open");
        await waitFor(async () => (await tab.textContent("#status")) !== "Signed out", 10000, "the dialog's sign-in");
        assert.equal(await tab.textContent("#status"), "Signed in as alice with pw-rec-dialog (lab)");
      },
      settings: ["realm: lab"],
    },
  ];
  try {
    for (const c of cases) {
      const result = await record(store, c.name, catalog, c.url, c);
      if (c.out) assert.match(result.out, c.out);
      const entry = JSON.parse(readFileSync(catalog, "utf8")).find((e) => e.name === c.name);
      assert.ok(entry, `${c.name} added to the catalog`);
      if (c.finds) assert.deepEqual(credentialFinds(entry), [c.finds.user, c.finds.password, c.finds.submit], c.name);
      assert.deepEqual(settings(entry), c.settings ?? [], c.name);
      if (c.order) assert.deepEqual(entry.template.elements.slice(0, -1).map((step) => step.find.value), c.order, c.name);
      // Never by a class the page toggles, never by position from the root.
      for (const step of entry.template.elements) assert.doesNotMatch(step.find.value, /default|^\/html/, c.name);
      assert.equal((await runTool(["cred", "set", entry.credential, c.user || "alice"], { input: `pw-${c.name}\n` })).code, 0);
      const tab = await launch(store, c.name, catalog, c.launchAt ? c.launchAt(entry) : c.url);
      await c.check(tab);
      await tab.close();
      await runTool(["cred", "delete", entry.credential]);
    }
    const drafts = pages.flatMap((text) => JSON.parse(text).filter((entry) => typeof entry?.draft === "string"));
    assert.ok(drafts.some((draft) => draft.sent) && drafts.some((draft) => !draft.sent), "drafts as seen and as sent");
    for (const secret of [...typed, wikiToken, "5f1c9a3e7b2d48e0a6c4f19d2b7e3a80"])
      assert.ok(!JSON.stringify(drafts).includes(secret), `no draft holds ${secret}`);
    // A name already in the catalog is refused; nothing is added twice.
    const before = readFileSync(catalog, "utf8");
    const again = runTool(["record", "--name", "rec-plain", "--wait", "60", "--into", windowsPath(catalog), "--only-credentials"],
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
                               "--origin", env.base, "--yes", "--only-credentials"]);
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
