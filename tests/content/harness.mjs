// Runs the content script in headless Chromium the way the extension runs it in Internet
// Explorer: after each page load, window.VelnorIEExt is published and content/content.js is
// run in the top-level window, as the DLL ships it (tools/ship-script.mjs). window.VelnorIEExt
// is a test double of the extension object: a Templates text shared by all pages of a test (the
// template store), a write-only AuthCreds, DebugTime, and GetElementByXPath on the top-level
// document only.
import { spawn } from "node:child_process";
import { createServer } from "node:http";
import { readFileSync, existsSync } from "node:fs";
import { dirname, join, extname } from "node:path";
import { createInterface } from "node:readline";
import { fileURLToPath } from "node:url";
import { chromium } from "playwright-core";
import { acornPath, shippedText } from "../../tools/ship-script.mjs";

const here = dirname(fileURLToPath(import.meta.url));
export const contentScriptPath = join(here, "..", "..", "content", "content.js");
// What the DLL carries and every page runs: the source as the build's own step ships it.
export const contentScript = shippedText(readFileSync(contentScriptPath, "latin1"), await import(acornPath));

const types = { ".html": "text/html; charset=utf-8", ".js": "text/javascript" };

// Serves the fixtures, React's browser builds and a page that shows what a form sent; a suite
// adds pages of its own as server.routes.set(path, (request, response, body) => ...).
export async function startServer() {
  const server = createServer(async (request, response) => {
    const url = new URL(request.url, "http://x");
    const route = server.routes.get(url.pathname);
    if (route) {
      let body = "";
      for await (const chunk of request) body += chunk;
      route(request, response, new URLSearchParams(body), url);
      return;
    }
    if (url.pathname === "/favicon.ico") {
      response.writeHead(204);
      response.end();
      return;
    }
    if (url.pathname === "/welcome") {
      const fields = [...url.searchParams].map(([k, v]) => `<li id="sent-${k}">${k}=${v}</li>`).join("");
      response.writeHead(200, { "content-type": types[".html"] });
      response.end(`<!doctype html><title>Welcome</title><h1>Welcome</h1><ul>${fields}</ul>`);
      return;
    }
    let file = join(here, "fixtures", url.pathname);
    if (url.pathname.startsWith("/react/")) file = join(here, "node_modules", url.pathname.split("/")[2], "umd", url.pathname.split("/")[3]);
    if (!existsSync(file)) {
      response.writeHead(404);
      response.end();
      return;
    }
    let body = readFileSync(file, "utf8");
    // Fixtures name the other origin (for cross-origin frames) as {{OTHER}}.
    body = body.replaceAll("{{OTHER}}", `http://localhost:${server.address().port}`);
    response.writeHead(200, { "content-type": types[extname(file)] || "application/octet-stream" });
    response.end(body);
  });
  server.routes = new Map();
  await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
  // The fixtures' own origin is 127.0.0.1; "localhost" is a second origin on the same server.
  server.base = `http://127.0.0.1:${server.address().port}`;
  return server;
}

export async function launchBrowser() {
  return chromium.launch({
    executablePath: "/usr/bin/chromium",
    headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--disable-background-networking", "--disable-component-update",
           "--disable-sync", "--no-first-run", "--disable-dev-shm-usage"],
  });
}

// The template store of one test: what every page reads, what pages wrote back.
// As the extension object does, a page's write is applied as a change to what that page read
// (mergeWrite). With `isolation`, a page reads and writes the store as the extension object lets
// it under TemplateIsolation: only the templates whose url matches the page and whose fixed part
// holds the page's whole origin (the C++ suite proves the real object does both, stamps included).
export class Store {
  constructor(templates = "", debugTime = 0, { isolation = false } = {}) {
    this.templates = typeof templates === "string" ? templates : JSON.stringify(templates);
    this.debugTime = debugTime;
    this.isolation = isolation;
    this.templateWrites = 0;
    this.authCreds = [];   // every text handed over, in order
  }
  // What a page at `url` reads; `tab` (a page of openPage) remembers it as what it read.
  readBy(url, tab) {
    const text = !this.isolation || !this.templates ? this.templates : JSON.stringify(this.parsed.filter((t) => ownTemplate(t, url)));
    if (tab) tab.known = text;
    return text;
  }
  // A page at `url` (shown in `tab`) writes `text`.
  writeBy(url, text, tab) {
    const own = this.isolation ? (t) => ownTemplate(t, url) : () => true;
    this.templates = mergeWrite(tab?.known ?? "", text, this.templates, own);
    if (tab) tab.known = text;
  }
  get parsed() {
    return this.templates ? JSON.parse(this.templates) : [];
  }
}

// The extension's merge of a page's write, as the store double needs it: entries matched by their
// text, a template also by its text without run state, an outcome record by its attempt and site;
// `own` says which entries the page may add, change or remove.
const RUN_STATE = ["ID", "maxRetries", "retryInterval", "startElement", "startAction"];
const textOf = (entry) => JSON.stringify(entry);
const coreOf = (entry) => {
  if (!entry || typeof entry !== "object" || Array.isArray(entry)) return textOf(entry);
  const core = { ...entry };
  for (const field of RUN_STATE) delete core[field];
  return textOf(core);
};
const recordOf = (entry) => entry && typeof entry === "object" && typeof entry.outcome === "string" && entry.elements === undefined
  ? `${entry.attempt}\n${entry.url}` : null;
export function mergeWrite(baseText, writtenText, currentText, own = () => true) {
  const read = (text) => {
    try {
      const value = text ? JSON.parse(text) : [];
      return Array.isArray(value) ? value : null;
    } catch {
      return null;
    }
  };
  const written = read(writtenText), current = read(currentText);
  if (!written || !current) return writtenText;
  if (baseText === currentText && written.every(own)) return writtenText;
  const base = read(baseText) ?? [];
  const change = new Array(written.length).fill(null), matchOf = new Array(written.length).fill(-1);
  const taken = new Array(base.length).fill(false);
  for (const [kind, key] of [["same", textOf], ["run", coreOf], ["record", recordOf]]) {
    written.forEach((entry, i) => {
      if (change[i] || key(entry) === null) return;
      const j = base.findIndex((b, index) => !taken[index] && key(b) === key(entry));
      if (j >= 0) (taken[j] = true), (change[i] = kind), (matchOf[i] = j);
    });
  }
  const used = new Array(current.length).fill(false);
  const place = base.map((entry) => {
    let k = current.findIndex((c, index) => !used[index] && textOf(c) === textOf(entry));
    if (k < 0 && entry?.elements) k = current.findIndex((c, index) => !used[index] && coreOf(c) === coreOf(entry));
    if (k >= 0) used[k] = true;
    return k;
  });
  const after = current.map(() => []), head = [];
  const writtenOf = new Array(base.length).fill(-1);
  let anchor = -1;
  written.forEach((entry, i) => {
    if (change[i]) {
      writtenOf[matchOf[i]] = i;
      if (place[matchOf[i]] >= 0) anchor = place[matchOf[i]];
    } else if (own(entry) && !entry?.launchId && typeof entry?.recorder !== "string") {
      (anchor < 0 ? head : after[anchor]).push(entry);
    }
  });
  const firstOfPage = Math.min(...place.filter((k) => k >= 0), Infinity);
  const out = [];
  current.forEach((stored, k) => {
    if (k === firstOfPage) out.push(...head);
    const j = place.indexOf(k);
    if (j < 0) out.push(stored);
    else if (writtenOf[j] < 0) {
      const same = textOf(stored) === textOf(base[j]) || base[j]?.elements;
      if (!(own(base[j]) && same)) out.push(stored);
    } else {
      const i = writtenOf[j];
      if (change[i] === "same") out.push(stored);
      else if (change[i] === "run") out.push(own(written[i]) ? written[i] : stored);
      else out.push(own(written[i]) && textOf(stored) === textOf(base[j]) ? written[i] : stored);
    }
    out.push(...after[k]);
  });
  if (firstOfPage === Infinity) out.push(...head);
  return JSON.stringify(out);
}

// The real template store of the x64 build's Wine prefix: held and reached through a real
// extension object by the store bridge (tests/helpers/store_bridge.cpp), so that the store tool
// run beside it (runTool) prepares sign-ons for these pages as it does for Internet Explorer's.
const root = join(here, "..", "..");
export const wine = {
  bin: process.env.VELNOR_WINE_BIN || join(root, "build", "x64", "bin"),
  prefix: process.env.VELNOR_WINE_PREFIX || join(root, "build", "x64", "wineprefix"),
  run: join(root, "cmake", "wine-run.sh"),
};
// Without the build the suites that need it are skipped, saying why; the test command requires it.
export const wineMissing = existsSync(join(wine.bin, "store_bridge.exe")) && existsSync(join(wine.bin, "VelnorSSOStore.exe"))
  ? false
  : process.env.VELNOR_REQUIRE_WINE ? false : `needs the x64 build under Wine (tools/build.sh x64): ${wine.bin}`;

// A Linux path as the Windows programs see it (Wine's drive Z: is /).
export const windowsPath = (path) => "Z:" + path.replaceAll("/", "\\");

// Runs VelnorSSOStore with `args`; `input` goes to its standard input.
// A run that has not ended after `limit` ms (the longest --wait a suite gives is 60 s) is ended
// and fails, naming the command and what it printed.
export function runTool(args, { input = "", limit = 120000 } = {}) {
  return new Promise((resolve, reject) => {
    const child = spawn(wine.run, [wine.prefix, join(wine.bin, "VelnorSSOStore.exe"), ...args], { stdio: "pipe" });
    let out = "";
    child.stdout.on("data", (data) => (out += data));
    child.stderr.on("data", (data) => (out += data));
    child.on("error", reject);
    const overdue = setTimeout(() => {
      child.kill("SIGKILL");
      reject(new Error(`VelnorSSOStore ${args.join(" ")} had not ended after ${limit} ms; it printed:\n${out}`));
    }, limit);
    whenEnded(child, (code) => {
      clearTimeout(overdue);
      resolve({ code, out });
    });
    child.stdin.end(input);
  });
}

// Calls back once `child` has exited and its output is read. The Wine process that starts the
// wineserver passes its pipes on to Wine's own services, which hold them open until the last
// program of the prefix ends (the store bridge, at the end of a test): waiting for the pipes to
// close would then wait for the test itself. What the program wrote before it exited is read
// within a moment.
function whenEnded(child, callback) {
  let done = false;
  const end = (code) => {
    if (done) return;
    done = true;
    child.stdout?.destroy();
    child.stderr?.destroy();
    callback(code);
  };
  child.on("close", end);
  child.on("exit", (code) => setTimeout(() => end(code), 500));
}

export class RealStore {
  static tabs = 0;
  constructor(debugTime = 0) {
    this.debugTime = debugTime;
    this.templateWrites = 0;
    this.authCreds = [];
    this.pending = [];
  }
  static async open(debugTime = 0) {
    const store = new RealStore(debugTime);
    store.child = spawn(wine.run, [wine.prefix, join(wine.bin, "store_bridge.exe")], { stdio: ["pipe", "pipe", "inherit"] });
    const lines = createInterface({ input: store.child.stdout });
    let ready;
    const started = new Promise((resolve) => (ready = resolve));
    lines.on("line", (line) => {
      if (line === "ready") return ready();
      store.pending.shift()?.resolve(line);
    });
    // A bridge that ended answers nothing more: what waits on it fails, saying so.
    store.child.on("exit", (code) => {
      store.ended = new Error(`the store bridge ended (exit code ${code})`);
      for (const waiting of store.pending.splice(0)) waiting.reject(store.ended);
      ready();
    });
    await started;
    if (store.ended) throw store.ended;
    return store;
  }
  // Each request is answered in order, within a second or two; one unanswered for a minute fails
  // what waits on it, naming it.
  request(line) {
    return new Promise((resolve, reject) => {
      if (this.ended) return reject(this.ended);
      const overdue = setTimeout(() => reject(new Error(`the store bridge has not answered ${line.slice(0, 80)}`)), 60000);
      const settle = (then) => (value) => {
        clearTimeout(overdue);
        then(value);
      };
      this.pending.push({ resolve: settle(resolve), reject: settle(reject) });
      this.child.stdin.write(line + "\n");
    });
  }
  async text() {
    return JSON.parse(await this.request("get"));
  }
  async parsed() {
    const text = await this.text();
    return text ? JSON.parse(text) : [];
  }
  async set(templates) {
    await this.request("put " + JSON.stringify(typeof templates === "string" ? templates : JSON.stringify(templates)));
  }
  // Each tab of openPage reaches the store through an extension object of its own, and each page
  // it shows through a binding of its own: what the page writes is applied as a change to what it
  // read, and stamped with its origin.
  async readBy(url, tab) {
    if (!tab) return this.text();
    tab.bridgeId ??= `tab${++RealStore.tabs}`;
    await this.request(`page ${tab.bridgeId} ${url}`);
    return JSON.parse(await this.request(`get ${tab.bridgeId}`));
  }
  async writeBy(url, text, tab) {
    await this.request((tab?.bridgeId ? `put ${tab.bridgeId} ` : "put ") + JSON.stringify(text));
  }
  // The real store is live through the bridge; a page never reads it again.
  liveFor() {
    return null;
  }
  async close() {
    this.child.stdin.end("quit\n");
    await new Promise((resolve) => whenEnded(this.child, resolve));
  }
}

function masked(pattern, text) {
  if (pattern === text) return true;
  const star = pattern.indexOf("*");
  return star >= 0 && (star === 0 || text.startsWith(pattern.slice(0, star)));
}
const forPage = (t, url) => t && typeof t === "object" && t.url != null && masked(String(t.url), url);
function confined(pattern, url) {
  const star = pattern.indexOf("*");
  if (star < 0) return true;
  const origin = new URL(url).origin + "/";
  return star >= origin.length && pattern.startsWith(origin);
}
const ownTemplate = (t, url) => forPage(t, url) && confined(String(t.url), url);

function installDouble(state) {
  let templates = state.templates;
  // The store is live: what other tabs write reaches this one's Templates (openPage pushes it).
  window.__velnorLive = (text) => {
    templates = text;
  };
  const extension = {
    GetElementByXPath(expression) {
      try {
        const found = document.evaluate(expression, document, null, XPathResult.FIRST_ORDERED_NODE_TYPE, null).singleNodeValue;
        return found && found.nodeType === 1 ? found : null;
      } catch (error) {
        return null;
      }
    },
  };
  Object.defineProperty(extension, "Templates", {
    get: () => templates,
    set: (value) => {
      templates = String(value);
      window.__velnorStore("templates", templates);
    },
  });
  Object.defineProperty(extension, "AuthCreds", {
    get: () => "",   // handed-over credentials are never read back
    set: (value) => window.__velnorStore("authCreds", String(value)),
  });
  Object.defineProperty(extension, "DebugTime", { get: () => state.debugTime, set: () => {} });
  Object.defineProperty(extension, "Status", { get: () => "ready", set: () => {} });
  window.VelnorIEExt = extension;
}

// A page whose every load gets the extension: window.VelnorIEExt, then the content script.
export async function openPage(browser, store, { beforeScript } = {}) {
  const context = await browser.newContext();
  const page = await context.newPage();
  page.traces = [];
  page.errors = [];
  page.injections = 0;
  // The content script writes with console.log; the browser's own notices are other types.
  page.on("console", (message) => {
    if (message.type() === "log") page.traces.push(message.text());
  });
  page.on("pageerror", (error) => page.errors.push(error.message));
  store.tabs ??= new Set();
  store.tabs.add(page);
  await page.exposeBinding("__velnorStore", async (source, what, value) => {
    if (what === "templates") {
      await store.writeBy(source.frame.url(), value, page);
      store.templateWrites++;
      for (const tab of store.tabs) {
        if (tab === page || store.liveFor) continue;
        const text = await store.readBy(tab.url());
        await tab.evaluate((t) => window.__velnorLive?.(t), text).catch(() => {});
      }
    } else {
      store.authCreds.push(value);
    }
  });
  page.inject = async () => {
    if (beforeScript) await page.evaluate(beforeScript);
    await page.evaluate(installDouble, { templates: await store.readBy(page.url(), page), debugTime: store.debugTime });
    // Runs as the page's global code, like IHTMLWindow2::execScript; a script that does not
    // complete rejects here.
    await page.evaluate(contentScript);
    page.injections++;
  };
  page.on("load", () => {
    page.injected = page.inject().catch((error) => page.errors.push("injection: " + error.message));
  });
  // Chromium now and then never answers the disposal of a context whose page is on its way to the
  // next page (seen on a busy machine: the close waited until the test ran out). The page is closed
  // first and each step given a while; a context that still stays goes with the browser at the end.
  const closePage = page.close.bind(page);
  page.close = async () => {
    store.tabs.delete(page);
    await within(closePage({ runBeforeUnload: false }), 10000);
    await within(context.close(), 10000);
  };
  return page;
}

// Waits for `promise` at most `ms`, then goes on either way.
const within = (promise, ms) => {
  let timer;
  return Promise.race([promise.catch(() => {}), new Promise((resolve) => (timer = setTimeout(resolve, ms)))])
    .finally(() => clearTimeout(timer));
};

// Loads a page and waits until the content script has run on it.
export async function visit(page, url) {
  page.injected = null;
  await page.goto(url);
  await waitFor(() => page.injected !== null, 10000, "the content script");
  await page.injected;
}

export async function waitFor(condition, timeout = 10000, what = "condition") {
  const end = Date.now() + timeout;
  for (;;) {
    const value = await condition();
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 25));
  }
}

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
