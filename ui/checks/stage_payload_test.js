// scripts/stage-payload: the staged folder holds exactly the payload's entries with the right
// content, the drawn images fit the pages and the host's colour key, and the script refuses what
// it must not replace.
"use strict";
const { test, describe, before, after } = require("node:test");
const assert = require("node:assert/strict");
const { spawnSync } = require("node:child_process");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const zlib = require("node:zlib");

const root = path.join(__dirname, "..", "..");
const stageScript = path.join(root, "scripts", "stage-payload");
const entries = fs
  .readFileSync(path.join(root, "ui", "payload.list"), "utf8")
  .split(/\r?\n/)
  .filter((line) => line && !line.startsWith("#"))
  .map((line) => line.replace(/\\/g, "/"));

let scratch;
before(() => {
  scratch = fs.mkdtempSync(path.join(os.tmpdir(), "stage-payload-test-"));
});
after(() => {
  fs.rmSync(scratch, { recursive: true, force: true });
});

function stage(out, script = stageScript) {
  return spawnSync(script, [out], { encoding: "utf8" });
}

function filesUnder(folder) {
  const found = [];
  for (const entry of fs.readdirSync(folder, { withFileTypes: true, recursive: true })) {
    if (entry.isFile()) {
      found.push(path.relative(folder, path.join(entry.parentPath ?? entry.path, entry.name)).split(path.sep).join("/"));
    }
  }
  return found.sort();
}

// Width, height and RGBA rows of a PNG as the image script writes it (8-bit RGBA, filter 0).
function readPng(file) {
  const data = fs.readFileSync(file);
  assert.deepEqual(data.subarray(0, 8), Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]));
  let offset = 8;
  let width = 0;
  let height = 0;
  const idat = [];
  while (offset < data.length) {
    const length = data.readUInt32BE(offset);
    const kind = data.toString("latin1", offset + 4, offset + 8);
    const body = data.subarray(offset + 8, offset + 8 + length);
    assert.equal(data.readUInt32BE(offset + 8 + length), zlib.crc32(data.subarray(offset + 4, offset + 8 + length)), kind);
    if (kind === "IHDR") {
      width = body.readUInt32BE(0);
      height = body.readUInt32BE(4);
      assert.deepEqual([...body.subarray(8)], [8, 6, 0, 0, 0], "8-bit RGBA, not interlaced");
    } else if (kind === "IDAT") {
      idat.push(body);
    }
    offset += 12 + length;
  }
  const raw = zlib.inflateSync(Buffer.concat(idat));
  assert.equal(raw.length, height * (1 + 4 * width));
  const pixel = (x, y) => {
    const at = y * (1 + 4 * width) + 1 + 4 * x;
    return [...raw.subarray(at, at + 4)];
  };
  return { width, height, pixel };
}

describe("staged payload", () => {
  let out;
  before(() => {
    out = path.join(scratch, "payload");
    const result = stage(out);
    assert.equal(result.status, 0, result.stderr);
  });

  test("holds exactly the 15 listed entries", () => {
    assert.equal(entries.length, 15);
    assert.deepEqual(filesUnder(out), [...entries].sort());
  });

  test("copies jQuery from node_modules and every other file but the images from ui/", () => {
    for (const entry of entries) {
      if (entry.startsWith("images/")) {
        continue;
      }
      const source = entry.startsWith("js/jquery-")
        ? path.join(root, "node_modules", "jquery", "dist", "jquery.min.js")
        : path.join(root, "ui", entry);
      assert.ok(fs.readFileSync(path.join(out, entry)).equals(fs.readFileSync(source)), entry);
    }
    assert.match(fs.readFileSync(path.join(out, "js/jquery-1.11.2.min.js"), "latin1"), /jQuery v1\.11\.2/);
  });

  const sizes = [
    ["Background_small.png", 651, 272],
    ["branding.png", 28, 28],
    ["progress_background.png", 571, 16],
    ["progress_value.png", 1, 16],
    ["progress_end.png", 8, 16],
    ["progress_head.png", 8, 16],
    ["close.png", 20, 40]
  ];
  for (const [name, width, height] of sizes) {
    test(`${name} is a ${width} x ${height} PNG with no opaque pixel of the colour key`, () => {
      const image = readPng(path.join(out, "images", name));
      assert.deepEqual([image.width, image.height], [width, height]);
      for (let y = 0; y < height; y++) {
        for (let x = 0; x < width; x++) {
          const [r, g, b, a] = image.pixel(x, y);
          assert.ok(!(a > 0 && r === 0x31 && g === 0x66 && b === 0x9b), `${name} (${x}, ${y})`);
        }
      }
    });
  }

  test("the panel is opaque except for fully clear corners, so the colour key leaves no fringe", () => {
    const panel = readPng(path.join(out, "images", "Background_small.png"));
    const alphas = new Set();
    for (let y = 0; y < panel.height; y++) {
      for (let x = 0; x < panel.width; x++) {
        alphas.add(panel.pixel(x, y)[3]);
      }
    }
    assert.deepEqual([...alphas].sort((a, b) => a - b), [0, 255]);
    for (const [x, y] of [[0, 0], [650, 0], [0, 271], [650, 271]]) {
      assert.equal(panel.pixel(x, y)[3], 0, `corner (${x}, ${y})`);
    }
    assert.equal(panel.pixel(325, 136)[3], 255);
  });

  test("the language list and the stub parameters have the exact form the host reads", () => {
    const installParams = fs.readFileSync(path.join(out, "js/installparams.js"));
    assert.notEqual(installParams[0], 0xef, "no byte-order mark before the script");
    assert.ok(installParams.toString("utf8").includes('"LANG":["en","fr","jp","de","it","nl"]'));
    assert.equal(
      fs.readFileSync(path.join(out, "js/stubparams.js"), "utf8").trim(),
      'var stubParams = {"packageUrl": "http://127.0.0.1:8631/SorvanePro.zip", ' +
        '"packageUrls": ["http://127.0.0.1:8631/SorvanePro.zip"], "channel": "demo", ' +
        '"shortcutName": "Sorvane Pro Setup.lnk", "thankYouUrl": "http://127.0.0.1:8631/thankyou.html", "offlineUrl": ""};'
    );
  });

  test("the scripts are plain ASCII, so no host can misread their encoding", () => {
    for (const entry of entries.filter((name) => /^js\/(?!jquery).*\.js$/.test(name) || /\.(html|css)$/.test(name))) {
      assert.ok(/^[\x09\x0a\x0d\x20-\x7e]*$/.test(fs.readFileSync(path.join(out, entry), "latin1")), entry);
    }
  });
});

describe("stage-payload", () => {
  test("staging again replaces the folder with the same bytes and drops stray files", () => {
    const out = path.join(scratch, "again");
    assert.equal(stage(out).status, 0);
    const first = Object.fromEntries(filesUnder(out).map((name) => [name, fs.readFileSync(path.join(out, name))]));
    fs.writeFileSync(path.join(out, "js", "stray.js"), "var stray;");
    fs.writeFileSync(path.join(out, "Load.html"), "changed");
    assert.equal(stage(out).status, 0);
    assert.deepEqual(filesUnder(out), Object.keys(first));
    for (const [name, bytes] of Object.entries(first)) {
      assert.ok(fs.readFileSync(path.join(out, name)).equals(bytes), name);
    }
    assert.deepEqual(fs.readdirSync(scratch).filter((name) => name.startsWith(".stage-payload")), []);
  });

  test("refuses to replace a folder that is not a staged payload, and leaves it alone", () => {
    const foreign = path.join(scratch, "foreign");
    fs.mkdirSync(foreign);
    fs.writeFileSync(path.join(foreign, "notes.txt"), "mine");
    const result = stage(foreign);
    assert.notEqual(result.status, 0);
    assert.match(result.stderr, /no staged payload/);
    assert.deepEqual(fs.readdirSync(foreign), ["notes.txt"]);
  });

  test("fails clearly without jQuery from npm", () => {
    const tree = path.join(scratch, "tree-without-npm");
    fs.mkdirSync(path.join(tree, "scripts"), { recursive: true });
    for (const script of ["stage-payload", "make-ui-images.py"]) {
      fs.copyFileSync(path.join(root, "scripts", script), path.join(tree, "scripts", script));
      fs.chmodSync(path.join(tree, "scripts", script), 0o755);
    }
    fs.cpSync(path.join(root, "ui"), path.join(tree, "ui"), { recursive: true });
    const out = path.join(scratch, "never");
    const result = stage(out, path.join(tree, "scripts", "stage-payload"));
    assert.notEqual(result.status, 0);
    assert.match(result.stderr, /jquery\.min\.js is missing: run scripts\/install-deps/);
    assert.equal(fs.existsSync(out), false);
  });
});
