// Content-script cost in headless Chromium: one load pass over 100, 1,000 and 5,000 templates
// that do not match the page, and over 100 templates that match and fill a page of 2,000
// elements. Run from tests/content with "npm run bench"; not part of the tests. The anchor is
// JSON.parse of the same store text in the same page, measured in the same rounds.
import { contentScript, launchBrowser, startServer } from "../../tests/content/harness.mjs";

const rounds = 41;

function templates(count, base, matching) {
  const list = [];
  for (let i = 0; i < count; i++) {
    list.push({
      url: matching ? `${base}/bench.html*` : `https://site-${i}.example/login*`,
      title: matching ? "bench" : `Sign in ${i}`,
      elements: [
        { find: { type: "id", value: `f${(i * 19) % 2000}` }, actions: [{ type: "text", value: `value ${i}` }] },
        { find: { type: "name", value: `n${(i * 7) % 2000}` }, actions: [{ type: "text", value: `other ${i}` }] },
      ],
    });
  }
  return JSON.stringify(list);
}

// Milliseconds of one run of the content script, measured inside the page.
async function measure(page, text) {
  return page.evaluate(([script, store]) => {
    window.VelnorIEExt = { Templates: store, DebugTime: 0, AuthCreds: "", GetElementByXPath: () => null };
    const start = performance.now();
    (0, eval)(script);
    return performance.now() - start;
  }, [contentScript, text]);
}

async function measureParse(page, text) {
  return page.evaluate((store) => {
    const start = performance.now();
    JSON.parse(store);
    return performance.now() - start;
  }, text);
}

// Best of the rounds: on a shared machine the other load only ever adds time.
const best = (values) => Math.min(...values);

const server = await startServer();
const browser = await launchBrowser();
const page = await browser.newPage();
await page.route("**/bench.html", (route) => {
  let body = "<!doctype html><title>bench</title><form>";
  for (let i = 0; i < 2000; i++) body += `<input id="f${i}" name="n${i}">`;
  route.fulfill({ contentType: "text/html", body: body + "</form>" });
});
await page.goto(`${server.base}/bench.html`);

console.log(`templates  matching  page elements   ms per load pass   JSON.parse ms   ratio   (best of ${rounds})`);
for (const [count, matching] of [[100, false], [1000, false], [5000, false], [100, true]]) {
  const times = [];
  const parses = [];
  const text = templates(count, server.base, matching);
  for (let r = 0; r < rounds; r++) {
    times.push(await measure(page, text));
    parses.push(await measureParse(page, text));
  }
  const pass = best(times);
  const parse = best(parses);
  console.log(`${String(count).padStart(9)}  ${matching ? "yes" : "no "}       2000            ${pass.toFixed(2).padStart(6)}` +
              `           ${parse.toFixed(2).padStart(6)}       ${parse > 0 ? (pass / parse).toFixed(2) : "-"}`);
}
await browser.close();
server.close();
