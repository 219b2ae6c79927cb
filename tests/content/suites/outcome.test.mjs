// Whether a sign-on worked: a template with "verify" leaves an outcome record in the store, which
// the site's pages settle; the store tool reads it and never types a refused password again.
// The sites here count every POST, which is what a directory counts towards a lockout.
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import { mkdirSync, mkdtempSync, readFileSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { test } from "node:test";
import { RealStore, Store, openPage, runTool, visit, waitFor, windowsPath, wine, wineMissing } from "../harness.mjs";
import { byId, env } from "./common.mjs";

const page = (title, body) => `<!doctype html><html><head><meta charset="utf-8"><title>${title}</title></head><body>${body}</body></html>`;
const loginForm = (error = "") => page("Sign in", `
  <form method="post" action="/v/login">
    <input id="user" name="user"> <input id="pass" name="pass" type="password">
    <button id="go" type="submit">Sign in</button>
  </form>
  <p id="error" style="${error ? "" : "display:none"}">${error || "Invalid user name or password"}</p>`);

// A site whose password is site.password; site.posts counts the sign-on attempts.
function addSite(server) {
  const site = { password: "right-pw", posts: 0, expired: false };
  const html = (response, status, text, headers = {}) => {
    response.writeHead(status, { "content-type": "text/html; charset=utf-8", ...headers });
    response.end(text);
  };
  server.routes.set("/v/login", (request, response, form) => {
    if (request.method !== "POST") return html(response, 200, loginForm());
    site.posts++;
    if (form.get("pass") !== site.password) return html(response, 200, loginForm("Invalid user name or password"));
    if (site.expired) return html(response, 200, page("Expired", `<h1 id="expired">Your password has expired</h1>`));
    html(response, 303, "", { location: "/v/home" });
  });
  server.routes.set("/v/home", (request, response) => html(response, 200, page("Home", `<h1 id="welcome">Welcome</h1>`)));
  // The same form signing on in the page: no navigation, the answer shown in place.
  server.routes.set("/v/app", (request, response) => html(response, 200, page("App", `
    <form id="f"><input id="user"><input id="pass" type="password"><button id="go">Sign in</button></form>
    <p id="error" style="display:none">Wrong password</p>
    <script>
      document.getElementById("f").addEventListener("submit", async (event) => {
        event.preventDefault();
        const sent = await fetch("/v/api", { method: "POST", body: new URLSearchParams({ pass: document.getElementById("pass").value }) });
        if (!(await sent.json()).ok) document.getElementById("error").style.display = "";
      });
    </script>`)));
  server.routes.set("/v/api", (request, response, form) => {
    site.posts++;
    response.writeHead(200, { "content-type": "application/json" });
    response.end(JSON.stringify({ ok: form.get("pass") === site.password }));
  });
  // A password change: the current password, the new one twice.
  server.routes.set("/v/change", (request, response, form) => {
    if (request.method !== "POST") {
      return html(response, 200, page("Change password", `<form method="post" action="/v/change">
        <input id="old" name="old" type="password"><input id="new" name="new" type="password">
        <input id="confirm" name="confirm" type="password"><button id="save" type="submit">Change</button></form>`));
    }
    site.posts++;
    const taken = form.get("old") === site.password && form.get("new") === form.get("confirm") && !site.refuseChange;
    if (taken) site.password = form.get("new");
    html(response, 200, page("Change password", taken ? `<p id="changed">Password changed</p>` : `<p id="refused">Not changed</p>`));
  });
  return site;
}

const signOn = (base, password, verify, extra = {}) => ({
  url: `${base}/v/*`,
  verify,
  elements: [
    { find: byId("user"), actions: [{ type: "text", value: "alice" }] },
    { find: byId("pass"), actions: [{ type: "text", value: password }] },
    { find: byId("go"), actions: [{ type: "click" }] },
  ],
  ...extra,
});

const outcomeOf = (store) => store.parsed.find((entry) => entry.outcome);

test("the site's next page settles the outcome: refused (the form again, or its error), taken, or a new password asked for", async () => {
  const site = addSite(env.server);
  const cases = [
    { password: "wrong", verify: {}, outcome: "failed", why: "the same form with an empty password field" },
    { password: "wrong", verify: { failure: [{ type: "text", value: "invalid user name" }] }, outcome: "failed", why: "its error text" },
    { password: "right-pw", verify: { success: [byId("welcome")] }, outcome: "succeeded", why: "a success find" },
    { password: "right-pw", verify: { within: 2 }, outcome: "succeeded", why: "its time passed with no failure" },
    { password: "right-pw", verify: { changeRequired: [{ type: "text", value: "has expired" }] }, outcome: "changeRequired",
      expired: true, why: "a change find" },
  ];
  for (const c of cases) {
    site.posts = 0;
    site.expired = !!c.expired;
    const store = new Store([signOn(env.base, c.password, c.verify, { launchId: "L1", name: "portal" })]);
    const tab = await openPage(env.browser, store);
    await visit(tab, `${env.base}/v/login`);
    await waitFor(() => outcomeOf(store)?.outcome === c.outcome, 10000, `${c.outcome} (${c.why})`);
    const record = outcomeOf(store);
    assert.equal(site.posts, 1, c.why);
    assert.equal(record.url, `${env.base}/*`);
    assert.equal(record.attempt, "L1");
    assert.equal(record.name, "portal");
    assert.equal(store.parsed.length, 1, "the record took the template's place");
    assert.ok(!JSON.stringify(store.parsed).includes(c.password), "no secret in the record");
    await tab.close();
  }
});

test("an error shown in the page itself, with no navigation, settles failed", async () => {
  const site = addSite(env.server);
  const store = new Store([signOn(env.base, "wrong", { failure: [byId("error")] })]);
  const tab = await openPage(env.browser, store);
  await visit(tab, `${env.base}/v/app`);
  await waitFor(() => outcomeOf(store)?.outcome === "failed", 10000, "failed");
  assert.equal(site.posts, 1);
  assert.equal(tab.url(), `${env.base}/v/app`, "the page never left");
  await tab.close();
});

test("a tab that read a launched template before another tab used it does not write it back", async () => {
  const site = addSite(env.server);
  const launched = signOn(env.base, "wrong", {}, { launchId: "L9", url: `${env.base}/v/login*` });
  // The other tab's own template writes the store back a moment after its page loaded.
  const own = { url: `${env.base}/v/home*`, elements: [{ actions: [{ type: "delay", value: 1500 }] }] };
  const store = new Store([launched, own]);
  const stale = await openPage(env.browser, store);
  await visit(stale, `${env.base}/v/home`);
  const tab = await openPage(env.browser, store);
  await visit(tab, `${env.base}/v/login`);
  await waitFor(() => outcomeOf(store)?.outcome === "failed", 10000, "the refusal");
  await waitFor(() => !store.parsed.some((entry) => entry.url === own.url), 10000, "the stale tab's write");
  assert.ok(!store.parsed.some((entry) => entry.launchId === "L9"), "the used template did not come back");
  assert.equal(outcomeOf(store)?.attempt, "L9", "the other tab's record stays: the stale tab's write changes only what it changed");
  await visit(tab, `${env.base}/v/login`);
  assert.equal(site.posts, 1, "the password was sent once");
  await stale.close();
  await tab.close();
});

// ---- with the store tool under Wine ----

function catalogFile(entries) {
  const folder = mkdtempSync(join(tmpdir(), "velnor-outcome-"));
  const file = join(folder, "catalog.json");
  writeFileSync(file, JSON.stringify(entries));
  return windowsPath(file);
}

const entry = (name, base, extra = {}) => ({
  name, launch: `${base}/v/login`, credential: `Velnor:${name}`,
  template: {
    url: `${base}/v/*`, verify: { success: [byId("welcome")] },
    elements: [
      { find: byId("user"), actions: [{ type: "text", valueFrom: "username" }] },
      { find: byId("pass"), actions: [{ type: "text", valueFrom: "password" }] },
      { find: byId("go"), actions: [{ type: "click" }] },
    ],
  },
  ...extra,
});

// Runs `launch` (or `change`) with --wait while a tab signs on, as the browser it opens would.
async function launchWhileSigningOn(store, args, url) {
  const launched = runTool(args);
  await waitFor(async () => (await store.text()).includes("launchId"), 30000, "the launched template");
  const tab = await openPage(env.browser, store);
  await visit(tab, url);
  const result = await launched;
  await tab.close();
  return result;
}

// Runs a Windows command-line program of the prefix (reg).
const wineCommand = (...args) => new Promise((resolve) => {
  spawn(wine.run, [wine.prefix, ...args], { stdio: "ignore" }).on("close", resolve);
});
const settings = "HKLM\\SOFTWARE\\Pellor";

test("launch reports the site's answer and never types a refused password again", { skip: wineMissing }, async () => {
  const site = addSite(env.server);
  const catalog = catalogFile([entry("outcome-login", env.base)]);
  // The store's own process logs each outcome a page sets (the level is read once per process).
  const logs = mkdtempSync(join(tmpdir(), "velnor-audit-"));
  mkdirSync(join(logs, "logs"));
  await wineCommand("reg", "add", settings, "/v", "InstallPath", "/d", windowsPath(logs), "/f", "/reg:64");
  await wineCommand("reg", "add", settings, "/v", "LogLevel", "/t", "REG_DWORD", "/d", "2", "/f", "/reg:64");
  const store = await RealStore.open();
  try {
    assert.equal((await runTool(["cred", "set", "Velnor:outcome-login", "alice"], { input: "wrong\n" })).code, 0);
    const failed = await launchWhileSigningOn(store, ["launch", "outcome-login", "--catalog", catalog, "--no-browser", "--wait", "30"],
                                              `${env.base}/v/login`);
    assert.equal(failed.code, 4, failed.out);
    assert.match(failed.out, /failed \(guessed after the form was sent\): the site refused the password of Velnor:outcome-login/);
    assert.equal(site.posts, 1);
    assert.ok(!(await store.text()).includes("outcome"), "the record was read and taken out");

    // However often it is started, the refused password is not put into the store again.
    for (let i = 0; i < 3; i++) {
      const again = await runTool(["launch", "outcome-login", "--catalog", catalog, "--no-browser"]);
      assert.equal(again.code, 1, again.out);
      assert.match(again.out, /refused the password of Velnor:outcome-login .* not typed again by itself/);
    }
    const tab = await openPage(env.browser, store);
    await visit(tab, `${env.base}/v/login`);
    await tab.close();
    assert.equal(site.posts, 1, "no second attempt with the refused password");

    // A new password lifts the refusal.
    assert.equal((await runTool(["cred", "set", "Velnor:outcome-login", "alice"], { input: "right-pw\n" })).code, 0);
    const taken = await launchWhileSigningOn(store, ["launch", "outcome-login", "--catalog", catalog, "--no-browser", "--wait", "30"],
                                             `${env.base}/v/login`);
    assert.equal(taken.code, 0, taken.out);
    assert.match(taken.out, /succeeded \(seen on the page\): the site took the password/);
    assert.equal(site.posts, 2);

    // For audit, a line per outcome: the site, the entry and the outcome, nobody's name or password.
    const log = readFileSync(join(logs, "logs", "log.txt"), "latin1");
    for (const outcome of ["submitted", "failed", "succeeded"]) {
      assert.ok(log.includes(`CVelnorIEExt::set_Templates() -> outcome: ${env.base} (outcome-login): ${outcome}`), outcome);
    }
    assert.ok(!/alice|wrong|right-pw/.test(log), "no user name, no password");
  } finally {
    await runTool(["cred", "delete", "Velnor:outcome-login"]);
    await store.close();
    await wineCommand("reg", "delete", settings, "/v", "LogLevel", "/f", "/reg:64");
    await wineCommand("reg", "delete", settings, "/v", "InstallPath", "/f", "/reg:64");
  }
});

test("a password change keeps the new password only once the site took it", { skip: wineMissing }, async () => {
  const site = addSite(env.server);
  site.password = "first-pw";
  const change = {
    name: "outcome-change", kind: "passwordChange", launch: `${env.base}/v/change`, credential: "Velnor:outcome-change",
    policy: { length: 20, symbols: "-_" },
    template: {
      url: `${env.base}/v/change*`, verify: { success: [byId("changed")], failure: [byId("refused")] },
      elements: [
        { find: byId("old"), actions: [{ type: "text", valueFrom: "password" }] },
        { find: byId("new"), actions: [{ type: "text", valueFrom: "newPassword" }] },
        { find: byId("confirm"), actions: [{ type: "text", valueFrom: "newPassword" }] },
        { find: byId("save"), actions: [{ type: "click" }] },
      ],
    },
  };
  const catalog = catalogFile([entry("outcome-change-login", env.base, { credential: "Velnor:outcome-change" }), change]);
  const store = await RealStore.open();
  try {
    assert.equal((await runTool(["cred", "set", "Velnor:outcome-change", "alice"], { input: "first-pw\n" })).code, 0);
    site.refuseChange = true;
    const refused = await launchWhileSigningOn(store, ["change", "outcome-change", "--catalog", catalog, "--no-browser", "--wait", "30"],
                                               `${env.base}/v/change`);
    assert.equal(refused.code, 4, refused.out);
    assert.equal(site.password, "first-pw");
    assert.doesNotMatch((await runTool(["cred", "list", "Velnor:outcome-change"])).out, /pending/, "the refused new one is gone");

    site.refuseChange = false;
    const changed = await launchWhileSigningOn(store, ["change", "outcome-change", "--catalog", catalog, "--no-browser", "--wait", "30"],
                                               `${env.base}/v/change`);
    assert.equal(changed.code, 0, changed.out);
    assert.notEqual(site.password, "first-pw");
    assert.match(site.password, /^[A-Za-z0-9_-]{20}$/, "made under the entry's policy");
    const listed = (await runTool(["cred", "list", "Velnor:outcome-change"])).out;
    assert.doesNotMatch(listed, /pending/);
    assert.match(listed, /Velnor:outcome-change#previous/, "the replaced password is kept until a sign-on proves the new one");
    // The credential now holds what the site holds: the login entry signs on with it, seen, and
    // then the previous copy goes.
    const login = await launchWhileSigningOn(store, ["launch", "outcome-change-login", "--catalog", catalog, "--no-browser", "--wait", "30"],
                                             `${env.base}/v/login`);
    assert.equal(login.code, 0, login.out);
    assert.doesNotMatch((await runTool(["cred", "list", "Velnor:outcome-change"])).out, /previous/);
  } finally {
    await runTool(["cred", "delete", "Velnor:outcome-change"]);
    await runTool(["cred", "delete", "Velnor:outcome-change#pending"]);
    await runTool(["cred", "delete", "Velnor:outcome-change#previous"]);
    await store.close();
  }
});
