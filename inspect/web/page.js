// The inspector's page: reads the embedded mesh file's records, draws them with three.js and
// lets the reader turn the model, toggle views and pick a face. Everything it needs is in the
// page; it requests nothing.
import {
  AmbientLight,
  Box3,
  Box3Helper,
  BufferAttribute,
  BufferGeometry,
  Color,
  DirectionalLight,
  DoubleSide,
  Mesh,
  MeshBasicMaterial,
  MeshLambertMaterial,
  PerspectiveCamera,
  Raycaster,
  Scene,
  Sphere,
  SRGBColorSpace,
  Vector2,
  Vector3,
  WebGLRenderer,
} from 'three';
import { OrbitControls } from 'three/addons/controls/OrbitControls.js';

const body = document.body;
const info = JSON.parse(document.getElementById('tessloom-info').textContent);
// record sizes and a face's fields, in bytes, as the inspector's layout definition gives them
const RECORDS = info.records;
const FACE = RECORDS.face;
// faces whose entry cannot be told (no material section, an index out of range) are grey
const NO_ENTRY_COLOUR = [0.6, 0.6, 0.6];

function element(tag, text, className) {
  const e = document.createElement(tag);
  if (text !== undefined) e.textContent = text;
  if (className) e.className = className;
  return e;
}

function row(table, cells) {
  const tr = element('tr');
  cells.forEach((c, i) => {
    const cell = i === 0 ? element('th') : element('td');
    if (c instanceof Node) cell.append(c);
    else cell.textContent = c;
    tr.append(cell);
  });
  table.append(tr);
  return tr;
}

function decodeBase64(text) {
  text = text.replace(/\s+/g, '');
  if (Uint8Array.fromBase64) return Uint8Array.fromBase64(text);
  const binary = atob(text);
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; ++i) bytes[i] = binary.charCodeAt(i);
  return bytes;
}

// The shortest text that reads back to the same 32-bit float.
function num(v) {
  if (!Number.isFinite(v)) return String(v);
  for (let digits = 1; digits < 10; ++digits) {
    const text = v.toPrecision(digits);
    if (Math.fround(Number(text)) === v) return String(Number(text));
  }
  return String(v);
}
const nums = (values) => values.map(num).join(' ');
const counted = (n, one, many) => `${n} ${n === 1 ? one : many}`;

function showMessage(text, state) {
  const message = document.getElementById('message');
  message.textContent = text;
  message.hidden = false;
  body.dataset.state = state;
}

function fillPanel() {
  document.getElementById('file-name').textContent = info.file;
  const facts = document.getElementById('facts');
  row(facts, ['size', `${info.size} bytes, ${info.layout}`]);
  const c = info.counts;
  row(facts, ['counts', [counted(c.vertices, 'vertex', 'vertices'),
                         counted(c.textureVertices, 'texture vertex', 'texture vertices'),
                         counted(c.faces, 'face', 'faces'),
                         counted(c.entries, 'material entry', 'material entries')].join(', ')]);
  const b = info.bounds;
  row(facts, ['bounds', `radius ${b.radius}, x ${b.x}, y ${b.y}, z ${b.z}`]);
  const checks = document.getElementById('checks');
  for (const c of info.checks) {
    const tr = row(checks, [element('span', c.outcome, c.outcome), c.name, c.detail]);
    tr.dataset.outcome = c.outcome;
  }
}

// Material entry of a face's material index: one entry serves every face; with several the
// index picks one, and an index out of range (a negative one included) picks none.
function entryOf(material) {
  const n = info.materials.length;
  if (n === 1) return 0;
  return material >= 0 && material < n ? material : -1;
}

// The colour of each entry: its diffuse colour, or with `distinct` one hue per entry (textured
// entries often share the same grey diffuse colour). Faces without an entry are grey.
function entryColours(distinct) {
  const colours = info.materials.map((m, e) => {
    const c = new Color();
    if (distinct) return c.setHSL((e * 0.618034) % 1, 0.65, 0.55, SRGBColorSpace);
    const d = m.diffuse.every(Number.isFinite) ? m.diffuse : NO_ENTRY_COLOUR;
    return c.setRGB(d[0], d[1], d[2], SRGBColorSpace);
  });
  colours.push(new Color().setRGB(...NO_ENTRY_COLOUR, SRGBColorSpace));
  return colours;
}

// Whether two entries that faces use have the same diffuse colour.
function diffuseColoursClash(entryFaces) {
  const seen = new Set();
  for (let e = 0; e < info.materials.length; ++e) {
    if (entryFaces[e] === 0) continue;
    const key = info.materials[e].diffuse.join(' ');
    if (seen.has(key)) return true;
    seen.add(key);
  }
  return false;
}

function readMesh(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const nv = info.counts.vertices, nt = info.counts.textureVertices, nf = info.counts.faces;
  const at = info.at;
  // every vertex once, as a number array: a face reads three
  const vertices = new Float32Array(nv * 3);
  for (let i = 0; i < nv * 3; ++i) vertices[i] = view.getFloat32(at.vertices + 4 * i, true);
  const positions = new Float32Array(nf * 9);
  const normals = new Float32Array(nf * 9);
  const faceEntries = new Int32Array(nf);  // info.materials.length: none
  const entryFaces = new Array(info.materials.length + 1).fill(0);
  let drawable = 0, winding = 0;
  for (let f = 0; f < nf; ++f) {
    const p = at.faces + RECORDS.faceBytes * f;
    const entry = entryOf(view.getInt32(p + FACE.material, true));
    faceEntries[f] = entry < 0 ? info.materials.length : entry;
    entryFaces[faceEntries[f]]++;
    let usable = true;
    for (let k = 0; k < 3 && usable; ++k) {
      const v = view.getInt32(p + FACE.corners + 4 * k, true);
      usable = v >= 0 && v < nv;
      for (let c = 0; c < 3 && usable; ++c) {
        const x = vertices[3 * v + c];
        usable = Number.isFinite(x);
        positions[9 * f + 3 * k + c] = x;
      }
    }
    if (!usable) {  // left as a point at the origin
      positions.fill(0, 9 * f, 9 * f + 9);
      continue;
    }
    let zero = true;
    for (let c = 0; c < 3; ++c) {
      const n = view.getFloat32(p + FACE.normal + 4 * c, true);
      normals[9 * f + c] = normals[9 * f + 3 + c] = normals[9 * f + 6 + c] =
          Number.isFinite(n) ? n : 0;
      zero = zero && !(n !== 0 && Number.isFinite(n));
    }
    // a zero stored normal would light the face black: it is lit by its winding instead
    if (zero) {
      windingNormal(positions, 9 * f, normals);
      ++winding;
    }
    ++drawable;
  }
  const colours = new Float32Array(nf * 9);
  return {view, nv, nt, nf, positions, normals, colours, faceEntries, entryFaces, drawable,
          winding};
}

function paint(mesh, distinct) {
  const entries = entryColours(distinct);
  const colours = entries.map((c) => [c.r, c.g, c.b]);
  for (let f = 0; f < mesh.nf; ++f) {
    const c = colours[mesh.faceEntries[f]];
    mesh.colours.set(c, 9 * f);
    mesh.colours.set(c, 9 * f + 3);
    mesh.colours.set(c, 9 * f + 6);
  }
  const swatches = document.querySelectorAll('#legend .swatch');
  swatches.forEach((swatch) => {
    swatch.style.background = `#${entries[swatch.dataset.entry].getHexString(SRGBColorSpace)}`;
  });
  body.dataset.colours = distinct ? 'distinct' : 'diffuse';
}

function fillLegend(mesh) {
  const legend = document.getElementById('legend');
  const shown = Math.min(info.materials.length, 500);
  for (let e = 0; e < shown; ++e) {
    const swatch = element('span', undefined, 'swatch');
    swatch.dataset.entry = e;
    const faces = mesh.entryFaces[e];
    const tr = row(legend, [swatch, String(e), info.materials[e].name,
                            counted(faces, 'face', 'faces')]);
    tr.dataset.entry = e;
  }
  if (shown < info.materials.length) {
    row(legend, ['', '', `and ${counted(info.materials.length - shown, 'more entry', 'more entries')}`, '']);
  }
  const none = mesh.entryFaces[info.materials.length];
  if (none > 0) {
    const swatch = element('span', undefined, 'swatch');
    swatch.dataset.entry = info.materials.length;
    row(legend, [swatch, 'none', 'no entry for the face\u2019s index', counted(none, 'face', 'faces')]);
  }
}

// The normal from the corners' order of the face whose corners start at positions[i]:
// (b - a) x (c - a) normalised, +y for a face of no area (as the glTF export gives it), put
// at out[i] for each of the face's three corners.
const scratch = [new Vector3(), new Vector3(), new Vector3()];
function windingNormal(positions, i, out) {
  const [a, b, c] = scratch;
  a.fromArray(positions, i);
  b.fromArray(positions, i + 3).sub(a);
  c.fromArray(positions, i + 6).sub(a);
  b.cross(c);
  const length = b.length();
  if (length > 0 && Number.isFinite(length)) b.divideScalar(length);
  else b.set(0, 1, 0);
  for (let k = 0; k < 3; ++k) b.toArray(out, i + 3 * k);
}

function windingNormals(positions) {
  const out = new Float32Array(positions.length);
  for (let i = 0; i < positions.length; i += 9) windingNormal(positions, i, out);
  return out;
}

function showFace(mesh, f) {
  const picked = document.getElementById('picked');
  picked.replaceChildren();
  const p = at(f);
  const i32 = (o) => mesh.view.getInt32(p + o, true);
  const f32s = (o) => [0, 4, 8].map((k) => mesh.view.getFloat32(p + o + k, true));
  const material = i32(FACE.material);
  const entry = entryOf(material);
  row(picked, ['face', String(f)]);
  row(picked, ['material', `index ${material}, ` + (entry < 0 ? 'no entry' : `entry ${entry}`)]);
  const corners = [0, 4, 8].map((k) => i32(FACE.corners + k));
  const tcorners = [0, 4, 8].map((k) => i32(FACE.texCorners + k));
  'abc'.split('').forEach((name, k) => {
    const v = corners[k];
    const where = v >= 0 && v < mesh.nv
                      ? nums([0, 4, 8].map((o) => mesh.view.getFloat32(info.at.vertices + RECORDS.vertexBytes * v + o, true)))
                      : 'no such vertex';
    row(picked, [`corner ${name}`, `vertex ${v}: ${where}`]);
  });
  'abc'.split('').forEach((name, k) => {
    const t = tcorners[k];
    const uv = t >= 0 && t < mesh.nt
                   ? nums([0, 4].map((o) => mesh.view.getFloat32(info.at.texVertices + RECORDS.texVertexBytes * t + o, true)))
                   : 'no such texture vertex';
    row(picked, [`texture ${name}`, `texture vertex ${t}: ${uv}`]);
  });
  row(picked, ['face normal', nums(f32s(FACE.normal))]);
  'abc'.split('').forEach((name, k) => {
    row(picked, [`normal ${name}`, nums(f32s(FACE.cornerNormals + RECORDS.vertexBytes * k))]);
  });
  body.dataset.pickedFace = f;
}

function at(f) {
  return info.at.faces + RECORDS.faceBytes * f;
}

function start() {
  fillPanel();
  const bytes = decodeBase64(document.getElementById('tessloom-mesh').textContent);
  const mesh = readMesh(bytes);
  fillLegend(mesh);
  const distinct = document.getElementById('distinct');
  distinct.checked = diffuseColoursClash(mesh.entryFaces);
  paint(mesh, distinct.checked);
  body.dataset.drawnFaces = mesh.drawable;
  if (mesh.winding > 0) {
    body.dataset.windingFaces = mesh.winding;
    row(document.getElementById('facts'),
        ['normals', `${mesh.winding} of ${mesh.nf} faces store a zero normal: lit by their ` +
                    'winding instead']);
  }
  if (mesh.nf === 0) {
    showMessage('This mesh has no faces: there is nothing to draw.', 'empty');
    return;
  }
  if (mesh.drawable === 0) {
    showMessage(`None of the ${mesh.nf} faces can be drawn: each names a vertex that does not ` +
                'exist or has a coordinate that is not a finite number.', 'empty');
    return;
  }

  const container = document.getElementById('view');
  let renderer;
  try {
    renderer = new WebGLRenderer({antialias: true});
  } catch (e) {
    showMessage('This browser cannot draw with WebGL, which the view needs.', 'no-webgl');
    return;
  }
  renderer.setPixelRatio(window.devicePixelRatio);
  renderer.setClearColor(0xf4f4f4);
  container.append(renderer.domElement);

  const geometry = new BufferGeometry();
  geometry.setAttribute('position', new BufferAttribute(mesh.positions, 3));
  const storedNormals = new BufferAttribute(mesh.normals, 3);
  geometry.setAttribute('normal', storedNormals);
  const colourAttribute = new BufferAttribute(mesh.colours, 3);
  geometry.setAttribute('color', colourAttribute);
  geometry.computeBoundingBox();
  geometry.computeBoundingSphere();
  const solid = new Mesh(geometry, new MeshLambertMaterial({
    vertexColors: true, side: DoubleSide, polygonOffset: true, polygonOffsetFactor: 1,
    polygonOffsetUnits: 1}));
  const wire = new Mesh(geometry, new MeshBasicMaterial({color: 0x202020, wireframe: true}));
  wire.visible = false;
  const highlight = new Mesh(new BufferGeometry(), new MeshBasicMaterial({
    color: 0xff00ff, side: DoubleSide, depthTest: false}));
  highlight.renderOrder = 1;

  const scene = new Scene();
  scene.add(solid, wire, highlight);
  const b = info.bounds;
  let box = null;
  if ([...b.min, ...b.max].every(Number.isFinite)) {
    box = new Box3Helper(new Box3(new Vector3(...b.min), new Vector3(...b.max)), 0x3070c0);
    scene.add(box);
  }
  const camera = new PerspectiveCamera(40, 1, 1, 2);
  scene.add(camera, new AmbientLight(0xffffff, 0.9));
  const light = new DirectionalLight(0xffffff, 2.2);
  light.position.set(0.4, 0.7, 1);
  camera.add(light);

  const framed = geometry.boundingBox.clone();
  if (box) framed.union(box.box);
  const sphere = framed.getBoundingSphere(new Sphere());
  const radius = sphere.radius > 0 && Number.isFinite(sphere.radius) ? sphere.radius : 1;
  // The sphere around the mesh fits the narrower of the two angles of view: the vertical
  // one in a wide window, the horizontal one in a tall window. Until the reader turns or
  // zooms, a new window shape frames it anew.
  let movedByReader = false;
  const frame = () => {
    const half = (camera.fov / 2) * Math.PI / 180;
    const narrower = Math.min(half, Math.atan(Math.tan(half) * camera.aspect));
    const distance = radius / Math.sin(narrower) * 1.15;
    camera.position.copy(sphere.center).add(
        new Vector3(0.55, 0.45, 1).normalize().multiplyScalar(distance));
    camera.near = distance / 1000;
    camera.far = distance * 10;
    camera.lookAt(sphere.center);
  };
  frame();
  const controls = new OrbitControls(camera, renderer.domElement);
  controls.target.copy(sphere.center);
  controls.addEventListener('start', () => { movedByReader = true; });

  const draw = () => renderer.render(scene, camera);
  const resize = () => {
    const w = Math.max(1, container.clientWidth), h = Math.max(1, container.clientHeight);
    renderer.setSize(w, h, false);
    camera.aspect = w / h;
    if (!movedByReader) frame();
    camera.updateProjectionMatrix();
    draw();
  };
  controls.addEventListener('change', draw);
  window.addEventListener('resize', resize);
  controls.update();

  let winding = null;
  document.getElementById('wireframe').addEventListener('change', (e) => {
    wire.visible = e.target.checked;
    draw();
  });
  document.getElementById('winding').addEventListener('change', (e) => {
    if (e.target.checked && !winding) winding = new BufferAttribute(windingNormals(mesh.positions), 3);
    geometry.setAttribute('normal', e.target.checked ? winding : storedNormals);
    draw();
  });
  distinct.addEventListener('change', () => {
    paint(mesh, distinct.checked);
    colourAttribute.needsUpdate = true;
    draw();
  });
  document.getElementById('box').addEventListener('change', (e) => {
    if (box) box.visible = e.target.checked;
    draw();
  });

  const raycaster = new Raycaster();
  const pick = (x, y) => {
    raycaster.setFromCamera(new Vector2(x, y), camera);
    const hit = raycaster.intersectObject(solid, false)[0];
    if (!hit) return;
    const f = hit.faceIndex;
    showFace(mesh, f);
    highlight.geometry.setAttribute(
        'position', new BufferAttribute(mesh.positions.slice(9 * f, 9 * f + 9), 3));
    draw();
  };
  // a click that did not turn the view picks the face under it
  let down = null;
  renderer.domElement.addEventListener('pointerdown', (e) => { down = [e.clientX, e.clientY]; });
  renderer.domElement.addEventListener('pointerup', (e) => {
    if (!down || Math.hypot(e.clientX - down[0], e.clientY - down[1]) > 3) return;
    const r = renderer.domElement.getBoundingClientRect();
    pick((e.clientX - r.left) / r.width * 2 - 1, -(e.clientY - r.top) / r.height * 2 + 1);
  });
  resize();
  // #pick=x,y picks at a point of the view given from -1 to 1 each way, as a click there would
  const asked = /^#pick=(-?[\d.]+),(-?[\d.]+)$/.exec(location.hash);
  if (asked) pick(Number(asked[1]), Number(asked[2]));
  body.dataset.state = 'ready';
  // from the start of loading to the first picture, for whoever wonders how long it takes
  body.dataset.readyMs = Math.round(performance.now());
}

try {
  start();
} catch (e) {
  showMessage(`The page could not show this mesh: ${e.message}`, 'error');
  throw e;
}
