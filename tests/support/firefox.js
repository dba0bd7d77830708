// Firefox for the web page's tests and benchmarks, driven by puppeteer-core
// (scripts/deps.sh test installs it into build/npm/) over WebDriver BiDi:
//
//   node firefox.js FIREFOX PROFILE
//
// starts FIREFOX headless on the profile folder PROFILE and takes one
// command a line on stdin, a JSON object {id, op, ...}; it answers each on
// stdout, in order, with {id, value} or {id, error}. It ends, closing the
// browser, when stdin ends. The commands are browsers.py's FirefoxSession's.
"use strict";

const path = require("path");
const readline = require("readline");

const puppeteer = require(path.join(process.env.OSTREVANE_NPM || "", "puppeteer-core"));

// What the page wrote on its console, and the errors it raised, as Selenium
// gives Chromium's log: [{level, message}], each handed out once.
let entries = [];

function note(page) {
  page.on("console", message => entries.push({
    level: message.type() === "error" ? "SEVERE" : message.type().toUpperCase(),
    message: message.text()}));
  page.on("pageerror", error => entries.push({level: "SEVERE", message: String(error)}));
}

// A script body with Selenium's calling convention: its arguments in
// `arguments`, and with `callback` a function as the last of them that the
// script calls with its result.
async function run(page, body, args, callback) {
  return page.evaluate((body, args, callback) => {
    const fn = new Function(body);
    if (!callback) {
      return fn.apply(null, args);
    }
    return new Promise(resolve => fn.apply(null, args.concat([resolve])));
  }, body, args || [], !!callback);
}

async function main() {
  const [executablePath, userDataDir] = process.argv.slice(2);
  const browser = await puppeteer.launch({
    browser: "firefox", executablePath, userDataDir, headless: true,
    protocolTimeout: 0, args: ["--no-remote"],
    // The tests' pages are all on loopback addresses; nothing else is fetched.
    extraPrefsFirefox: {"browser.shell.checkDefaultBrowser": false,
                        "datareporting.policy.dataSubmissionEnabled": false,
                        "dom.serviceWorkers.testing.enabled": true}});
  let page = (await browser.pages())[0] || await browser.newPage();
  note(page);
  const ops = {
    viewport: c => page.setViewport({width: c.width, height: c.height,
                                     deviceScaleFactor: c.scale}),
    get: c => page.goto(c.url, {waitUntil: "load", timeout: 0}).then(() => null),
    reload: () => page.reload({waitUntil: "load", timeout: 0}).then(() => null),
    script: c => run(page, c.body, c.args, false),
    async_script: c => run(page, c.body, c.args, true),
    preload: c => page.evaluateOnNewDocument(c.source).then(() => null),
    offline: c => page.setOfflineMode(c.offline),
    screenshot: c => page.screenshot({path: c.path}).then(() => true),
    type: c => page.keyboard.type(c.text),
    down: c => page.keyboard.down(c.key),
    up: c => page.keyboard.up(c.key),
    move: c => page.mouse.move(c.x, c.y),
    press: () => page.mouse.down(),
    release: () => page.mouse.up(),
    click: c => page.click(c.selector),
    log: () => {
      const out = entries;
      entries = [];
      return out;
    },
  };
  const lines = readline.createInterface({input: process.stdin});
  for await (const line of lines) {
    const command = JSON.parse(line);
    let reply;
    try {
      const value = await ops[command.op](command);
      reply = {id: command.id, value: value === undefined ? null : value};
    } catch (e) {
      reply = {id: command.id, error: String(e && e.message || e).split("\n")[0]};
    }
    process.stdout.write(JSON.stringify(reply) + "\n");
  }
  await browser.close();
}

main().catch(e => {
  process.stderr.write("firefox.js: " + (e && e.message || e) + "\n");
  process.exit(1);
});
