// The globe page of gora serve: our image tiles as an imagery layer over
// CesiumJS's own offline world image (Natural Earth II), our terrain tiles as a
// heightmap terrain, both on the same WGS84 tiling as the host; layer controls
// for the base map, the raster's opacity and the terrain's exaggeration.
"use strict";

const TERRAIN_SAMPLES = 33;
const IMAGE_TILE_PIXELS = 256;

// What the browser test waits for and checks; also handy in the console.
const goraStatus = { started: false, flown: false, tilesLoaded: false, error: null, terrain: false };
window.goraStatus = goraStatus;

function showMessage(text) {
  const box = document.getElementById("message");
  box.textContent = text;
  box.hidden = false;
}

function fail(text) {
  goraStatus.error = text;
  showMessage(text);
}

function hasWebGl() {
  const canvas = document.createElement("canvas");
  return Boolean(canvas.getContext("webgl2") || canvas.getContext("webgl"));
}

// Tiles that arrived, so the readout can name the finest level shown under the cursor.
class TileLog {
  constructor(tilingScheme) {
    this.tilingScheme = tilingScheme;
    this.keys = new Set();
    this.finestLevel = -1;
  }

  add(x, y, level) {
    this.keys.add(`${level}/${x}/${y}`);
    this.finestLevel = Math.max(this.finestLevel, level);
  }

  levelAt(cartographic) {
    for (let level = this.finestLevel; level >= 0; --level) {
      const tile = this.tilingScheme.positionToTileXY(cartographic, level);
      if (tile && this.keys.has(`${level}/${tile.x}/${tile.y}`)) {
        return level;
      }
    }
    return undefined;
  }
}

// The finest level whose image pixels are no larger than the raster's own.
function finestImageLevel(description) {
  const resolution = description.wgs84Resolution;
  const degrees = resolution ? Math.min(Math.abs(resolution[0]), Math.abs(resolution[1])) : NaN;
  if (!(degrees > 0)) {
    return 18;
  }
  const level = Math.ceil(Math.log2(180 / (IMAGE_TILE_PIXELS * degrees)));
  return Math.min(Math.max(level, 0), 22);
}

function boundsRectangle(description) {
  const b = description.wgs84Bounds;
  return Cesium.Rectangle.fromDegrees(b.west, b.south, b.east, b.north);
}

function makeImagery(description, tilingScheme, log) {
  const provider = new Cesium.UrlTemplateImageryProvider({
    url: "tiles/image/{z}/{x}/{y}.png",
    tilingScheme,
    tileWidth: IMAGE_TILE_PIXELS,
    tileHeight: IMAGE_TILE_PIXELS,
    rectangle: boundsRectangle(description),
    maximumLevel: finestImageLevel(description),
    credit: description.file,
  });
  const request = provider.requestImage.bind(provider);
  provider.requestImage = (x, y, level, req) => {
    const image = request(x, y, level, req);
    if (image) {
      image.then(() => log.add(x, y, level), () => {});
    }
    return image;
  };
  return new Cesium.ImageryLayer(provider);
}

async function fetchHeights(x, y, level, log) {
  const response = await fetch(`tiles/terrain/${level}/${x}/${y}.f32`);
  if (!response.ok) {
    throw new Error(`terrain tile ${level}/${x}/${y}: HTTP ${response.status}`);
  }
  const heights = new Float32Array(await response.arrayBuffer());
  if (heights.length !== TERRAIN_SAMPLES * TERRAIN_SAMPLES) {
    throw new Error(`terrain tile ${level}/${x}/${y}: ${heights.length} samples`);
  }
  log.add(x, y, level);
  return heights;
}

function makeTerrain(tilingScheme, log) {
  return new Cesium.CustomHeightmapTerrainProvider({
    width: TERRAIN_SAMPLES,
    height: TERRAIN_SAMPLES,
    tilingScheme,
    callback: (x, y, level) => fetchHeights(x, y, level, log),
  });
}

function formatReadout(cartographic, level, height) {
  const lon = Cesium.Math.toDegrees(cartographic.longitude);
  const lat = Cesium.Math.toDegrees(cartographic.latitude);
  const levelText = level === undefined ? "-" : String(level);
  const heightText = height === undefined ? "-" : `${height.toFixed(1)} m`;
  return `level ${levelText}\nlon ${lon.toFixed(5)}\nlat ${lat.toFixed(5)}\nelevation ${heightText}`;
}

function trackCursor(widget, log) {
  const readout = document.getElementById("readout");
  const handler = new Cesium.ScreenSpaceEventHandler(widget.scene.canvas);
  handler.setInputAction((movement) => {
    const ray = widget.camera.getPickRay(movement.endPosition);
    const position = ray && widget.scene.globe.pick(ray, widget.scene);
    if (!position) {
      readout.textContent = "off the globe";
      return;
    }
    const cartographic = Cesium.Cartographic.fromCartesian(position);
    const height = widget.scene.globe.getHeight(cartographic);
    readout.textContent = formatReadout(cartographic, log.levelAt(cartographic), height);
  }, Cesium.ScreenSpaceEventType.MOUSE_MOVE);
}

// Without terrain from the server (an image is not its own relief) the globe
// stays flat and the switch says so.
function wireTerrainSwitch(widget, terrain, restartLoading) {
  const flat = new Cesium.EllipsoidTerrainProvider();
  const toggle = document.getElementById("terrain-switch");
  if (!terrain) {
    toggle.checked = false;
    toggle.disabled = true;
    toggle.parentElement.title = "the raster holds no elevations; gora serve --terrain DEM gives the globe relief";
    return;
  }
  toggle.addEventListener("change", () => {
    widget.terrainProvider = toggle.checked ? terrain : flat;
    restartLoading();
  });
}

// A control's input event, with a frame afterwards (frames come only on request).
function onInput(widget, id, apply) {
  const control = document.getElementById(id);
  const update = () => {
    apply(control);
    widget.scene.requestRender();
  };
  control.addEventListener("input", update);
  control.addEventListener("change", update);
  update();
}

function wireLayerControls(widget, baseLayer, rasterLayer, description) {
  onInput(widget, "basemap-switch", (control) => {
    baseLayer.show = control.checked;
  });
  onInput(widget, "opacity", (control) => {
    rasterLayer.alpha = Number(control.value);
    document.getElementById("opacity-value").textContent = `${Math.round(100 * rasterLayer.alpha)} %`;
  });
  onInput(widget, "exaggeration", (control) => {
    widget.scene.verticalExaggeration = Number(control.value);
    document.getElementById("exaggeration-value").textContent = `${widget.scene.verticalExaggeration} x`;
  });
  document.getElementById("fly-back").addEventListener("click", () => flyToRaster(widget, description));
}

// CesiumJS's small world image, shipped with it and served from the page's folder.
function makeBaseLayer() {
  const url = Cesium.buildModuleUrl("Assets/Textures/NaturalEarthII");
  return Cesium.ImageryLayer.fromProviderAsync(Cesium.TileMapServiceImageryProvider.fromUrl(url));
}

// Loaded means the flight is over and the globe's load queue stayed empty for
// a second (it is briefly empty between batches). Each check asks for a frame,
// since frames are what move the queue along. Returns what starts the watch anew.
function watchLoading(widget) {
  let quietChecks = 0;
  setInterval(() => {
    widget.scene.requestRender();
    quietChecks = widget.scene.globe.tilesLoaded ? quietChecks + 1 : 0;
    if (goraStatus.flown && quietChecks >= 4) {
      goraStatus.tilesLoaded = true;
    }
  }, 250);
  return () => {
    quietChecks = 0;
    goraStatus.tilesLoaded = false;
  };
}

// Looks at the raster from the south at an angle, so that relief shows.
function flyToRaster(widget, description) {
  goraStatus.flown = false;
  const sphere = Cesium.BoundingSphere.fromRectangle3D(boundsRectangle(description));
  widget.camera.flyToBoundingSphere(sphere, {
    offset: new Cesium.HeadingPitchRange(0, Cesium.Math.toRadians(-40), sphere.radius * 2.4),
    duration: 2,
    complete: () => {
      goraStatus.flown = true;
    },
  });
}

async function start() {
  if (!hasWebGl()) {
    fail("This page needs WebGL, which this browser does not offer (or has switched off).");
    return;
  }
  const response = await fetch("api/description");
  if (!response.ok) {
    fail(`The server gave no description of the raster (HTTP ${response.status}).`);
    return;
  }
  const description = await response.json();
  const bounds = Object.values(description.imagery.wgs84Bounds ?? {});
  if (bounds.length !== 4 || !bounds.every(Number.isFinite)) {
    fail("The module gives this raster no WGS84 bounds, so the globe cannot place it.");
    return;
  }
  document.getElementById("title").textContent = description.imagery.file.split("/").pop();

  const tilingScheme = new Cesium.GeographicTilingScheme();
  const log = new TileLog(tilingScheme);
  const terrain = description.terrain ? makeTerrain(tilingScheme, log) : undefined;
  const baseLayer = makeBaseLayer();
  const widget = new Cesium.CesiumWidget("globe", {
    baseLayer,
    terrainProvider: terrain ?? new Cesium.EllipsoidTerrainProvider(),
    msaaSamples: 1,
    // Frames only when something changed: a software renderer keeps its CPU for loading tiles.
    requestRenderMode: true,
  });
  const rasterLayer = makeImagery(description.imagery, tilingScheme, log);
  widget.imageryLayers.add(rasterLayer);
  goraStatus.started = true;
  goraStatus.terrain = Boolean(terrain);
  window.goraWidget = widget;
  window.goraLayers = { base: baseLayer, raster: rasterLayer };
  wireTerrainSwitch(widget, terrain, watchLoading(widget));
  wireLayerControls(widget, baseLayer, rasterLayer, description.imagery);
  trackCursor(widget, log);
  flyToRaster(widget, description.imagery);
}

start().catch((error) => fail(`The globe could not start: ${error.message}`));
