// The page's worker: holds the user's files (File objects) and the core
// (createHexmendCore, defined by the compiled core that comes before this
// code in the worker's source, and kCoreWasmBase64, its WebAssembly). Every call into the core is synchronous;
// the core reads the user's files by range with FileReaderSync.
//
// Messages from the page:
//   {type: 'files', patch: File|null, files: [File]}  -> 'described'
//   {type: 'switch', line, on}                        -> 'described'
//   {type: 'run', mode: 'check'|'apply'|'undo', verbatim} -> 'ran'
//   {type: 'diff', old: File, new: File}              -> 'progress'..., 'diffed'
// Answers:
//   {type: 'described', blocks: [{line, style, on, name}],
//    named: [{role, present, fileName, name}], patch: Uint8Array|null}
//   {type: 'ran'|'diffed', exit, pieces: [{kind: 'out'|'error'|'err', text}],
//    download: {name, blob}|null}
//   {type: 'progress', done, total}
//   {type: 'failed', message}  (the core itself broke; the page makes a new worker)
'use strict';

// Patch files up to this size are held as text (blocks listed, switchable);
// larger ones are read by the run as the user's file.
const kHeldPatchBytes = 256 * 1024 * 1024;

let core = null;
let session = 0;
// The user's files by number; the core names them by these numbers.
let files = [];
// While a patch is made: reports how far the two files have been read.
let onRead = null;

function coreWasm() {
    const text = atob(kCoreWasmBase64);
    const bytes = new Uint8Array(text.length);
    for (let i = 0; i < text.length; i++) {
        bytes[i] = text.charCodeAt(i);
    }
    return bytes;
}

const ready = createHexmendCore({
    // Given as bytes, the core's WebAssembly is neither fetched nor looked for.
    wasmBinary: coreWasm(),
    hexmendReadRange(id, offset, n) {
        const file = files[id];
        if (file === undefined) {
            return null;
        }
        try {
            const bytes = new Uint8Array(
                new FileReaderSync().readAsArrayBuffer(file.slice(offset, offset + n)));
            if (onRead !== null) {
                onRead(id, offset + n);
            }
            return bytes;
        } catch (e) {
            return null;
        }
    },
}).then((module) => {
    core = module;
    session = core._hexmend_web_new();
});

function withBytes(bytes, call) {
    const p = core._malloc(bytes.length + 1);
    try {
        core.HEAPU8.set(bytes, p);
        core.HEAPU8[p + bytes.length] = 0;
        return call(p);
    } finally {
        core._free(p);
    }
}

function withText(text, call) {
    return withBytes(new TextEncoder().encode(text), call);
}

function takeResult() {
    const p = core._hexmend_web_result(session);
    return core.HEAPU8.slice(p, p + core._hexmend_web_result_size(session));
}

function patchBytes() {
    const p = core._hexmend_web_patch_data(session);
    return core.HEAPU8.slice(p, p + core._hexmend_web_patch_size(session));
}

const decoder = new TextDecoder('utf-8');

function describe(held) {
    core._hexmend_web_describe(session);
    const blocks = [];
    const named = [];
    for (const line of decoder.decode(takeResult()).split('\n')) {
        const fields = line.split('\t');
        if (fields[0] === 'B') {
            blocks.push({
                line: Number(fields[1]),
                style: fields[2],
                on: fields[3] === '1',
                name: fields.slice(4).join('\t'),
            });
        } else if (fields[0] === 'F') {
            named.push({
                role: fields[1],
                present: fields[2] === '1',
                fileName: fields[3],
                name: fields.slice(4).join('\t'),
            });
        }
    }
    return {type: 'described', blocks, named, patch: held ? patchBytes() : null};
}

let patchHeld = false;

function setFiles(patch, given) {
    files = given.slice();
    core._hexmend_web_clear_files(session);
    files.forEach((file, id) => {
        withText(file.name, (name) => core._hexmend_web_add_file(session, id, name, file.size));
    });
    patchHeld = false;
    if (patch === null) {
        withText('', (name) => core._hexmend_web_set_patch_text(session, name, name, 0));
    } else if (patch.size <= kHeldPatchBytes) {
        let text;
        try {
            text = new Uint8Array(new FileReaderSync().readAsArrayBuffer(patch));
        } catch (e) {
            throw new Error('cannot read ' + patch.name + ' (' + e.name + ')');
        }
        withText(patch.name, (name) =>
            withBytes(text, (p) =>
                core._hexmend_web_set_patch_text(session, name, p, text.length)));
        patchHeld = true;
    } else {
        const id = files.length;
        files.push(patch);
        withText(patch.name, (name) => {
            core._hexmend_web_add_file(session, id, name, patch.size);
            core._hexmend_web_set_patch_file(session, name, id);
        });
    }
    return describe(patchHeld);
}

// Reads the result of a run: the console pieces, then the written file,
// if any, as its base's slices and the written ranges.
function readRun(result, baseFile) {
    const view = new DataView(result.buffer, result.byteOffset, result.byteLength);
    const kinds = {o: 'out', e: 'error', r: 'err'};
    const pieces = [];
    let download = null;
    let at = 0;
    const u32 = () => { const v = view.getUint32(at, true); at += 4; return v; };
    const i32 = () => { const v = view.getInt32(at, true); at += 4; return v; };
    const f64 = () => { const v = view.getFloat64(at, true); at += 8; return v; };
    const bytes = () => { const n = u32(); const b = result.subarray(at, at + n); at += n; return b; };
    while (at < result.length) {
        const kind = String.fromCharCode(result[at++]);
        if (kind !== 'T') {
            pieces.push({kind: kinds[kind], text: decoder.decode(bytes())});
            continue;
        }
        const name = decoder.decode(bytes());
        const size = f64();
        const base = baseFile(i32());
        const baseSize = f64();
        const count = u32();
        const parts = [];
        let done = 0;
        const fill = (to) => {
            if (done < to && done < baseSize) {
                parts.push(base.slice(done, Math.min(to, baseSize)));
            }
            if (to > baseSize && to > Math.max(done, baseSize)) {
                parts.push(new Uint8Array(to - Math.max(done, baseSize)));
            }
            done = to;
        };
        for (let i = 0; i < count; i++) {
            const offset = f64();
            const written = bytes();
            fill(offset);
            parts.push(written);
            done = offset + written.length;
        }
        fill(size);
        download = {name, blob: new Blob(parts, {type: 'application/octet-stream'})};
    }
    return {pieces, download};
}

function run(mode, verbatim) {
    const options = [];
    if (mode === 'check') {
        options.push('check=true');
    } else if (mode === 'undo') {
        options.push('reverse=true');
    }
    if (verbatim) {
        options.push('verbatim=true');
    }
    const exit = withText(options.join('\n'), (p) => core._hexmend_web_run(session, p));
    const {pieces, download} = readRun(takeResult(), (id) => files[id]);
    return {type: 'ran', mode, exit, pieces, download};
}

function diff(oldFile, newFile) {
    const given = files;
    const oldId = given.length;
    const newId = oldId + 1;
    files = given.concat([oldFile, newFile]);
    const total = oldFile.size + newFile.size;
    const read = new Map();
    let reported = 0;
    onRead = (id, end) => {
        read.set(id, end);
        let done = 0;
        read.forEach((v) => { done += v; });
        if (done - reported >= total / 200 || done === total) {
            reported = done;
            self.postMessage({type: 'progress', done, total});
        }
    };
    try {
        const exit = withText(oldFile.name, (oldName) =>
            withText(newFile.name, (newName) =>
                core._hexmend_web_diff(session, oldId, oldName, oldFile.size, newId, newName,
                                       newFile.size)));
        const {pieces, download} = readRun(takeResult(), (id) => files[id]);
        return {type: 'diffed', exit, pieces, download: exit === 0 ? download : null};
    } finally {
        onRead = null;
        files = given;
    }
}

function handle(message) {
    switch (message.type) {
    case 'files':
        return setFiles(message.patch, message.files);
    case 'switch':
        core._hexmend_web_switch(session, message.line, message.on ? 1 : 0);
        return describe(patchHeld);
    case 'run':
        return run(message.mode, message.verbatim);
    case 'diff':
        return diff(message.old, message.new);
    default:
        throw new Error('unknown message ' + message.type);
    }
}

self.onmessage = (event) => {
    ready.then(() => self.postMessage(handle(event.data))).catch((error) => {
        self.postMessage({type: 'failed', message: String(error && error.message || error)});
    });
};
