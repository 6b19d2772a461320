// Validates one .gltf or .glb with the Khronos glTF Validator; external files (buffers,
// images) are read beside it. Prints the issue counts and every message; exits 1 on any error,
// 2 on a file the validator cannot read at all.
//   node validate-gltf.mjs FILE [--node-modules DIR]
import { readFile } from 'node:fs/promises';
import { createRequire } from 'node:module';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const args = process.argv.slice(2);
let file = null;
let modules = path.join(path.dirname(fileURLToPath(import.meta.url)), '..', 'node_modules');
for (let i = 0; i < args.length; ++i) {
    if (args[i] === '--node-modules' && i + 1 < args.length) {
        modules = args[++i];
    } else if (file === null) {
        file = args[i];
    } else {
        console.error('usage: validate-gltf.mjs FILE [--node-modules DIR]');
        process.exit(2);
    }
}
if (file === null) {
    console.error('usage: validate-gltf.mjs FILE [--node-modules DIR]');
    process.exit(2);
}

const require = createRequire(path.join(path.resolve(modules), 'package.json'));
const validator = require('gltf-validator');
const folder = path.dirname(path.resolve(file));

try {
    const report = await validator.validateBytes(new Uint8Array(await readFile(file)), {
        uri: path.basename(file),
        maxIssues: 0,
        writeTimestamp: false,
        externalResourceFunction: async (uri) => {
            const target = path.resolve(folder, decodeURIComponent(uri));
            // Only files beside the asset or below it, as an exporter writes them.
            if (path.relative(folder, target).startsWith('..')) {
                throw new Error(`outside the asset's folder: ${uri}`);
            }
            return new Uint8Array(await readFile(target));
        },
    });
    const issues = report.issues;
    console.log(`${file}: ${issues.numErrors} errors, ${issues.numWarnings} warnings, ` +
                `${issues.numInfos} infos, ${issues.numHints} hints`);
    for (const message of issues.messages) {
        const kind = ['error', 'warning', 'info', 'hint'][message.severity] ?? 'issue';
        console.log(`  ${kind} ${message.code} ${message.pointer ?? ''}: ${message.message}`);
    }
    process.exit(issues.numErrors > 0 ? 1 : 0);
} catch (error) {
    console.error(`${file}: the validator cannot read it: ${error}`);
    process.exit(2);
}
