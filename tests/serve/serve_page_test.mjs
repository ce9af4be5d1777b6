// Browser test of gora serve: starts the server on a sample, loads the globe
// page in headless Chromium, waits in real time for the tiles, and checks the
// tile answers, the page's own errors, the cursor readout, the screenshot, the
// base map and the layer controls.
// Exit code 77 tells CTest the test was skipped.
import { spawn } from "node:child_process";
import { createRequire } from "node:module";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { parseArgs } from "node:util";

const CHROMIUM = "/usr/bin/chromium";
const CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--use-angle=swiftshader",
  "--enable-unsafe-swiftshader", "--disable-quic", "--no-first-run", "--disable-background-networking",
  "--disable-component-update", "--disable-sync"];
const { values: options } = parseArgs({ options: Object.fromEntries(
  ["gora", "module-dir", "npm-dir", "raster", "terrain", "screenshot"].map((name) => [name, { type: "string" }])) });
const failures = [];

function skip(reason) {
  console.log(`SKIPPED: ${reason}`);
  process.exit(77);
}

function check(condition, message) {
  console.log(`${condition ? "ok  " : "FAIL"} ${message}`);
  if (!condition) failures.push(message);
}

// Starts gora serve on a port the system picks and resolves with its address.
function startServer() {
  const args = ["--module-dir", options["module-dir"], "serve", options.raster, "--port", "0"];
  if (options.terrain) args.push("--terrain", options.terrain);
  const child = spawn(options.gora, args, { stdio: ["ignore", "pipe", "inherit"] });
  return new Promise((resolve, reject) => {
    let output = "";
    const timer = setTimeout(() => reject(new Error(`gora serve did not start: ${output}`)), 30_000);
    child.stdout.on("data", (chunk) => {
      output += chunk;
      const match = /http:\/\/127\.0\.0\.1:(\d+)\//.exec(output);
      if (match) {
        clearTimeout(timer);
        resolve({ child, url: match[0] });
      }
    });
    child.on("exit", (code) => reject(new Error(`gora serve exited with ${code}: ${output}`)));
  });
}

function stopServer(child) {
  return new Promise((resolve) => {
    if (child.exitCode !== null) return resolve(child.exitCode);
    child.on("exit", resolve);
    child.kill("SIGTERM");
  });
}

// Counts the screenshot's colours in the browser itself, so no image decoder is needed.
function screenshotColours(page, png) {
  return page.evaluate(async (base64) => {
    const bitmap = await createImageBitmap(await (await fetch(`data:image/png;base64,${base64}`)).blob());
    const context = new OffscreenCanvas(bitmap.width, bitmap.height).getContext("2d");
    context.drawImage(bitmap, 0, 0);
    const pixels = context.getImageData(0, 0, bitmap.width, bitmap.height).data;
    const counts = new Map();
    let plainBlue = 0; // CesiumJS's globe without imagery
    for (let i = 0; i < pixels.length; i += 4) {
      const key = (pixels[i] << 16) | (pixels[i + 1] << 8) | pixels[i + 2];
      counts.set(key, (counts.get(key) ?? 0) + 1);
      plainBlue += pixels[i + 2] > pixels[i] + 100 && pixels[i + 2] > pixels[i + 1] + 100 ? 1 : 0;
    }
    const total = pixels.length / 4;
    return { distinct: counts.size, commonest: Math.max(...counts.values()) / total, plainBlue: plainBlue / total };
  }, png.toString("base64"));
}

async function waitForTiles(page) {
  const started = Date.now();
  await page.waitForFunction(() => window.goraStatus?.tilesLoaded || window.goraStatus?.error, null,
                             { timeout: 240_000, polling: 500 });
  console.log(`tiles loaded after ${((Date.now() - started) / 1000).toFixed(1)} s`);
}

// The readout's text with the cursor at the middle of the page, and the elevation it shows.
async function readoutAtCentre(page) {
  const { width, height } = page.viewportSize();
  await page.mouse.move(width / 2 + 1, height / 2);
  await page.mouse.move(width / 2, height / 2);
  await page.waitForTimeout(500);
  const text = await page.locator("#readout").textContent();
  console.log(`readout at the centre: ${text.replace(/\n/g, " | ")}`);
  const elevation = /elevation (-?[\d.]+) m/.exec(text);
  return { text, elevation: elevation ? Number(elevation[1]) : NaN };
}

async function checkGlobe(context, baseUrl) {
  const page = await context.newPage();
  const responses = [];
  const pageErrors = [];
  const foreign = [];
  page.on("response", (r) => responses.push({ path: new URL(r.url()).pathname, status: r.status() }));
  page.on("pageerror", (e) => pageErrors.push(e.message));
  page.on("console", (m) => m.type() === "error" && pageErrors.push(m.text()));
  page.on("request", (r) => /^https?:/.test(r.url()) && !r.url().startsWith(baseUrl) && foreign.push(r.url()));

  await page.goto(baseUrl);
  await waitForTiles(page);
  const { error } = await page.evaluate(() => window.goraStatus);
  check(error === null, `the page reports no error (${error})`);
  const terrain = await readoutAtCentre(page);
  check(/level \d+/.test(terrain.text), "the readout names the tile level under the cursor");
  check(terrain.elevation > 0, "the readout shows a positive elevation over the sample");

  const colours = await screenshotColours(page, await page.screenshot({ path: options.screenshot }));
  console.log(`screenshot ${options.screenshot}: ${colours.distinct} colours, commonest covers ` +
              `${(100 * colours.commonest).toFixed(1)} %`);
  check(colours.distinct > 100 && colours.commonest < 0.9, "the screenshot is not blank");

  await checkLayerControls(page, colours);
  await page.locator("#terrain-switch").uncheck();
  await waitForTiles(page);
  check(Math.abs((await readoutAtCentre(page)).elevation) < 1, "switched to the flat map, the elevation is 0");

  const baseMap = responses.filter((r) => r.path.startsWith("/cesium/Assets/Textures/NaturalEarthII/"));
  check(baseMap.length > 0 && baseMap.every((r) => r.status === 200), `the base map came from the server (${baseMap.length})`);
  for (const kind of ["image", "terrain"]) {
    const answers = responses.filter((r) => r.path.startsWith(`/tiles/${kind}/`));
    const bad = answers.filter((r) => r.status !== 200);
    console.log(`${kind} tiles: ${answers.length} answers, ${bad.length} not 200`);
    check(answers.length > 0 && bad.length === 0, `every ${kind} tile request got 200`);
  }
  check(pageErrors.length === 0, `no page error (${pageErrors.join("; ")})`);
  check(foreign.length === 0, `no request left the server (${foreign.slice(0, 3).join(", ")})`);
  await page.close();
}

// Sets a slider as a user drags it.
function slide(page, id, value) {
  return page.evaluate(([id, value]) => {
    const control = document.getElementById(id);
    control.value = value;
    control.dispatchEvent(new Event("input"));
  }, [id, String(value)]);
}

// The base map shows around the raster (no plain blue globe) until switched
// off; the sliders set the raster's opacity and the terrain's exaggeration;
// the button flies back to the raster from the other side of the globe.
async function checkLayerControls(page, withBaseMap) {
  check(withBaseMap.plainBlue < 0.01, `the base map covers the globe (${(100 * withBaseMap.plainBlue).toFixed(1)} % plain blue)`);
  await page.locator("#basemap-switch").uncheck();
  await page.waitForTimeout(1000);
  const without = await screenshotColours(page, await page.screenshot());
  check(without.plainBlue > 0.05, `without the base map the globe is plain blue (${(100 * without.plainBlue).toFixed(1)} %)`);
  await page.locator("#basemap-switch").check();
  await slide(page, "opacity", 0.25);
  await slide(page, "exaggeration", 3);
  const state = await page.evaluate(() => ({ alpha: window.goraLayers.raster.alpha,
    exaggeration: window.goraWidget.scene.verticalExaggeration }));
  check(state.alpha === 0.25 && state.exaggeration === 3, `the sliders set opacity and exaggeration (${JSON.stringify(state)})`);
  await slide(page, "opacity", 1);
  await slide(page, "exaggeration", 1);
  await page.evaluate(() => window.goraWidget.camera.setView({
    destination: Cesium.Cartesian3.fromDegrees(-170, -40, 2e7) }));
  await page.locator("#fly-back").click();
  await page.waitForFunction(() => window.goraStatus.flown, null, { timeout: 30_000 });
  const back = await page.evaluate(async () => {
    const b = (await (await fetch("api/description")).json()).imagery.wgs84Bounds;
    const camera = window.goraWidget.camera.positionCartographic;
    return { lon: Cesium.Math.toDegrees(camera.longitude), west: b.west, east: b.east };
  });
  check(back.lon > back.west - 1 && back.lon < back.east + 1, `the button flies back to the raster (camera at ${back.lon.toFixed(2)} E)`);
  await waitForTiles(page);
}

async function checkNoWebGlMessage(context, baseUrl) {
  const page = await context.newPage();
  await page.addInitScript(() => {
    const getContext = HTMLCanvasElement.prototype.getContext;
    HTMLCanvasElement.prototype.getContext = function (kind, ...rest) {
      return /webgl/i.test(kind) ? null : getContext.call(this, kind, ...rest);
    };
  });
  await page.goto(baseUrl);
  const message = page.locator("#message");
  await message.waitFor({ state: "visible", timeout: 30_000 });
  check(/WebGL/.test(await message.textContent()), "without WebGL the page says so");
  await page.close();
}

async function main() {
  if (!fs.existsSync(CHROMIUM)) skip(`${CHROMIUM} is absent (scripts/install-deps installs Debian's chromium)`);
  let chromium;
  try {
    ({ chromium } = createRequire(path.resolve(options["npm-dir"] ?? ".", "package.json"))("playwright-core"));
  } catch {
    skip(`playwright-core is not installed in ${options["npm-dir"]} (npm ci runs at build time)`);
  }
  const server = await startServer();
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), "gora-serve-chromium-"));
  try {
    const context = await chromium.launchPersistentContext(profile, {
      executablePath: CHROMIUM, headless: true, args: CHROMIUM_FLAGS, viewport: { width: 1280, height: 800 } });
    try {
      await checkGlobe(context, server.url);
      await checkNoWebGlMessage(context, server.url);
    } finally {
      await context.close();
    }
  } finally {
    const code = await stopServer(server.child);
    check(code === 0, `gora serve stopped cleanly on SIGTERM (exit ${code})`);
    fs.rmSync(profile, { recursive: true, force: true });
  }
  if (failures.length > 0) {
    console.log(`${failures.length} check(s) failed`);
    process.exit(1);
  }
}

main().catch((error) => {
  console.log(`FAIL ${error.stack ?? error}`);
  process.exit(1);
});
