// Shared set-up of the content-script suites: one server and one browser per file.
import { after, before } from "node:test";
import { launchBrowser, startServer } from "../harness.mjs";

export const env = {};

before(async () => {
  env.server = await startServer();
  env.base = env.server.base;
  env.browser = await launchBrowser();
});

after(async () => {
  await env.browser?.close();
  env.server?.close();
});

// A template that signs on to the login fixture with the given steps.
export function loginTemplate(elements, extra = {}) {
  return { url: `${env.base}/login.html*`, elements, ...extra };
}

export const byId = (value) => ({ type: "id", value });
