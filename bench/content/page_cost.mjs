// What every page pays for the content script in headless Chromium when the store holds no
// template for that page: the text parsed and run as page-level code (indirect eval, as
// execScript runs it), against an empty script run the same way in the same rounds. The text
// as the DLL ships it, and the source with its comments for comparison. Run from tests/content
// with "npm run bench"; not part of the tests.
//
// Each run's text ends in a comment of its own, so that no run takes the code V8 compiled for
// an earlier one: Internet Explorer parses the script anew in every page.
import { readFileSync } from "node:fs";
import { contentScript, contentScriptPath, launchBrowser, startServer } from "../../tests/content/harness.mjs";

const rounds = 9;
const runsPerRound = 50;

function templates(count) {
  const list = [];
  for (let i = 0; i < count; i++) {
    list.push({ url: `https://site-${i}.example/login*`, title: `Sign in ${i}`,
                elements: [{ find: { type: "id", value: `f${i}` }, actions: [{ type: "text", value: `value ${i}` }] }] });
  }
  return count ? JSON.stringify(list) : "";
}

// Milliseconds per run, over runsPerRound runs in one page.
async function measure(page, script, store, round) {
  return page.evaluate(([text, stored, tag, runs]) => {
    const start = performance.now();
    for (let i = 0; i < runs; i++) {
      window.VelnorIEExt = { Templates: stored, DebugTime: 0, AuthCreds: "", GetElementByXPath: () => null };
      (0, eval)(`${text}\n/*${tag}-${i}*/`);
    }
    return (performance.now() - start) / runs;
  }, [script, store, round, runsPerRound]);
}

const server = await startServer();
const browser = await launchBrowser();
const page = await browser.newPage();
await page.route("**/bench.html", (route) => {
  route.fulfill({ contentType: "text/html",
                  body: "<!doctype html><title>bench</title><form><input id=user><input id=pass type=password></form>" });
});
await page.goto(`${server.base}/bench.html`);

const source = readFileSync(contentScriptPath, "latin1");
const scripts = [["shipped", contentScript], ["source, with comments", source], ["empty", ""]];
console.log(`text sizes: shipped ${contentScript.length} characters, source ${source.length}`);
console.log(`store          script                   ms per page (best of ${rounds} rounds of ${runsPerRound})   ratio to empty`);
let tag = 0;
for (const count of [0, 10]) {
  const best = scripts.map(() => Infinity);
  for (let r = 0; r < rounds; r++) {
    for (let k = 0; k < scripts.length; k++) best[k] = Math.min(best[k], await measure(page, scripts[k][1], templates(count), ++tag));
  }
  scripts.forEach(([name], k) => {
    console.log(`${`${count} templates`.padEnd(15)}${name.padEnd(25)}${best[k].toFixed(3).padStart(8)}` +
                `                              ${best[2] > 0 ? (best[k] / best[2]).toFixed(1) : "-"}`);
  });
}
await browser.close();
server.close();
