// Checks a release's bill of materials. First against CycloneDX 1.5's
// published JSON schema (strict: no members the schema does not name), with
// the validator of CycloneDX's own library; both come from the npm registry,
// pinned in package-lock.json beside this file and installed by
// scripts/setup.sh. Then, given the release folder, against the files: each
// package's SHA-256, the files inside each (unpacked into UNPACKED/<package>/)
// one for one with theirs, every binary tied to the runtime parts in it, and
// every runtime part with its section in the notices.
//   node check_sbom.js FILE.cdx.json [RELEASE_DIR UNPACKED_DIR NOTICES]
// Exit code 0: all holds; 1: not, each fault on stderr; 2: wrong use.
'use strict';
const crypto = require('crypto');
const fs = require('fs');
const path = require('path');
const CDX = require('@cyclonedx/cyclonedx-library');

const sha256 = (file) => crypto.createHash('sha256').update(fs.readFileSync(file)).digest('hex');

function filesUnder(dir, prefix = '') {
  return fs.readdirSync(dir, {withFileTypes: true}).flatMap((e) => {
    const rel = prefix + e.name;
    return e.isDirectory() ? filesUnder(path.join(dir, e.name), rel + '/') : [rel];
  });
}

function checkFiles(bom, releaseDir, unpackedDir, notices, faults) {
  const shipped = fs.readdirSync(releaseDir).filter((n) => /\.(zip|msi)$/.test(n)).sort();
  const packages = bom.components.filter((c) => c.type === 'file');
  const named = packages.map((c) => c.name).sort();
  if (JSON.stringify(named) !== JSON.stringify(shipped))
    faults.push(`the packages named are ${named}, the release folder has ${shipped}`);
  const dependsOn = new Map((bom.dependencies || []).map((d) => [d.ref, d.dependsOn]));
  const runtime = bom.components.filter((c) => c.type === 'library');
  for (const pkg of packages) {
    const file = path.join(releaseDir, pkg.name);
    if (!fs.existsSync(file)) continue;
    if (pkg.hashes[0].content !== sha256(file)) faults.push(`${pkg.name}: the SHA-256 named is not the file's`);
    const unpacked = path.join(unpackedDir, pkg.name);
    const inside = filesUnder(unpacked).sort();
    const listed = (pkg.components || []).map((c) => c.name).sort();
    if (JSON.stringify(inside) !== JSON.stringify(listed))
      faults.push(`${pkg.name} holds ${inside.join(', ')}; the bill names ${listed.join(', ')}`);
    for (const f of pkg.components || []) {
      const at = path.join(unpacked, f.name);
      if (fs.existsSync(at) && f.hashes[0].content !== sha256(at))
        faults.push(`${pkg.name}: ${f.name}: the SHA-256 named is not the file's`);
      if (/\.(dll|exe)$/.test(f.name)) {
        const parts = dependsOn.get(f['bom-ref']) || [];
        for (const want of ['runtime:libgcc', 'runtime:mingw-w64-crt', bom.metadata.component['bom-ref']])
          if (!parts.includes(want)) faults.push(`${pkg.name}: ${f.name} is not tied to ${want}`);
      }
    }
  }
  const text = fs.readFileSync(notices, 'utf8');
  for (const part of runtime)
    if (!text.includes(`\n== ${part.name}\n`)) faults.push(`the runtime part ${part.name} has no section in ${notices}`);
  if (!runtime.length) faults.push('the bill names no runtime part');
}

async function main() {
  const [file, releaseDir, unpackedDir, notices] = process.argv.slice(2);
  if (!file || (releaseDir && !notices)) {
    console.error('usage: node check_sbom.js FILE.cdx.json [RELEASE_DIR UNPACKED_DIR NOTICES]');
    return 2;
  }
  const text = fs.readFileSync(file, 'utf8');
  const validator = new CDX.Validation.JsonStrictValidator(CDX.Spec.Version.v1dot5);
  let errors;
  try {
    errors = await validator.validate(text);
  } catch (e) {
    console.error(`check_sbom: ${file} does not read as JSON: ${e.message}`);
    return 1;
  }
  if (errors) {
    console.error(`check_sbom: ${file} does not follow CycloneDX 1.5:\n${JSON.stringify(errors, null, 2)}`);
    return 1;
  }
  if (releaseDir) {
    const faults = [];
    checkFiles(JSON.parse(text), releaseDir, unpackedDir, notices, faults);
    if (faults.length) {
      console.error(`check_sbom: ${file}:\n  ${faults.join('\n  ')}`);
      return 1;
    }
  }
  console.log(`${file}: valid CycloneDX 1.5${releaseDir ? ', true to the files' : ''}`);
  return 0;
}

main().then((rc) => process.exit(rc));
