// Runs the Khronos glTF validator over .glb files: node validate_gltf.cjs PACKAGES FILE...
// (PACKAGES holds node_modules/gltf-validator). An image a file names is read from beside
// it; one that is not there (the scenes' textures do not come with them) is reported by the
// validator as IO_ERROR, which it is told to count as a warning, and only there: an
// IO_ERROR anywhere else is an error as before. Prints each error and one line of totals;
// exits 1 when any file has an error.
'use strict';
const fs = require('fs');
const path = require('path');

const [packages, ...files] = process.argv.slice(2);
const validator = require(path.resolve(packages, 'node_modules', 'gltf-validator'));

async function main() {
  let errors = 0, warnings = 0, failed = 0;
  const codes = new Map();  // warnings, notes and hints by code, for the record
  for (const file of files) {
    const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(file)), {
      uri: path.basename(file),
      format: 'glb',
      maxIssues: 0,
      writeTimestamp: false,
      severityOverrides: {IO_ERROR: 1},
      externalResourceFunction: (uri) => new Promise((resolve, reject) => {
        fs.readFile(path.resolve(path.dirname(file), decodeURIComponent(uri)), (error, data) => {
          if (error) reject(error.toString());
          else resolve(new Uint8Array(data));
        });
      }),
    });
    let fileErrors = 0;
    for (const m of report.issues.messages) {
      const unresolvedImage = m.code === 'IO_ERROR' && /^\/images\/\d+\/uri$/.test(m.pointer);
      if (m.severity === 0 || (m.code === 'IO_ERROR' && !unresolvedImage)) {
        console.log(`${file}: error ${m.code} at ${m.pointer}: ${m.message}`);
        ++fileErrors;
      } else {
        if (m.severity === 1) ++warnings;
        codes.set(m.code, (codes.get(m.code) || 0) + 1);
      }
    }
    errors += fileErrors;
    if (fileErrors > 0) ++failed;
  }
  const other = [...codes].map(([code, n]) => `${code} ${n}`).join(', ');
  console.log(`glTF validator ${validator.version()}: ${files.length} files, ${failed} with ` +
              `errors; ${errors} errors, ${warnings} warnings` +
              (other ? `; warnings and notes: ${other}` : ''));
  process.exitCode = failed > 0 ? 1 : 0;
}

main().catch((e) => {
  console.log(`validator: ${e}`);
  process.exitCode = 1;
});
