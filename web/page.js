// The page: gathers the patch file and the user's files, shows what the
// core says of them, and runs the core in a worker made from the source
// that core.js holds (a worker from a file beside the page is refused when
// the page is opened from its folder). Cancelling ends the worker; a new
// one takes its place.
'use strict';

(function () {
    const $ = (id) => document.getElementById(id);
    const state = {
        patch: null,
        // The user's files by file name: what the patch file's names match.
        files: new Map(),
        worker: null,
        // What the worker is doing: null, 'describe', 'run' or 'diff'.
        busy: null,
        // Answers not yet come back from the worker.
        waiting: 0,
        urls: {},
    };

    function setLink(id, blob, name) {
        const link = $(id);
        if (state.urls[id]) {
            URL.revokeObjectURL(state.urls[id]);
            delete state.urls[id];
        }
        if (blob === null) {
            link.hidden = true;
            link.removeAttribute('href');
            return;
        }
        state.urls[id] = URL.createObjectURL(blob);
        link.href = state.urls[id];
        link.download = name;
        link.hidden = false;
    }

    function makeWorker() {
        const source = new Blob([window.HEXMEND_WORKER_SOURCE], {type: 'text/javascript'});
        const url = URL.createObjectURL(source);
        state.worker = new Worker(url);
        URL.revokeObjectURL(url);
        state.worker.onmessage = (event) => answer(event.data);
        state.worker.onerror = (event) => {
            event.preventDefault();
            broken(event.message || 'the worker stopped');
        };
    }

    function send(message, busy) {
        state.busy = busy;
        state.waiting += 1;
        updateButtons();
        state.worker.postMessage(message);
    }

    function sendFiles() {
        send({type: 'files', patch: state.patch, files: Array.from(state.files.values())},
             'describe');
    }

    function updateButtons() {
        const idle = state.busy === null;
        for (const id of ['check', 'apply', 'undo']) {
            $(id).disabled = !idle || state.patch === null;
        }
        $('diff').disabled = !idle || !$('diff-old').files.length || !$('diff-new').files.length;
        $('cancel').disabled = state.busy !== 'run' && state.busy !== 'diff';
        for (const box of $('blocks').querySelectorAll('input')) {
            box.disabled = !idle || box.dataset.switchable !== '1';
        }
    }

    // ---- What the worker says ----
    function answer(message) {
        state.waiting -= 1;
        if (message.type === 'progress') {
            state.waiting += 1;
            $('diff-progress').value = message.total ? message.done / message.total : 1;
            return;
        }
        if (state.waiting === 0) {
            state.busy = null;
        }
        if (message.type === 'described') {
            showDescription(message);
        } else if (message.type === 'ran') {
            showRun(message);
        } else if (message.type === 'diffed') {
            showDiff(message);
        } else if (message.type === 'failed') {
            broken(message.message);
            return;
        }
        updateButtons();
    }

    // The core broke (out of memory beyond what it catches, a fault): said,
    // and a fresh worker takes over.
    function broken(why) {
        const wasDiff = state.busy === 'diff';
        if (state.busy === 'describe') {
            // The files themselves could not be taken: not sent again.
            state.patch = null;
            state.files.clear();
            restart(false);
            $('files-summary').textContent = 'The files could not be read: ' + why;
            return;
        }
        restart(true);
        const status = wasDiff ? $('diff-console') : $('run-status');
        status.textContent = 'The run stopped: ' + why;
        $(wasDiff ? 'diff-console' : 'console').dataset.state = 'failed';
    }

    function restart(resend) {
        state.worker.terminate();
        state.waiting = 0;
        state.busy = null;
        $('diff-progress').hidden = true;
        makeWorker();
        if (resend) {
            sendFiles();
        } else {
            updateButtons();
        }
    }

    function showDescription(message) {
        const named = $('named');
        named.textContent = '';
        let missing = 0;
        for (const file of message.named) {
            const item = document.createElement('li');
            const written = file.role === 'target';
            item.className = written ? 'written' : file.present ? 'have' : 'missing';
            if (!written && !file.present) {
                missing += 1;
            }
            const role = document.createElement('span');
            role.className = 'role';
            role.textContent = written ? 'target (written): '
                : file.role === 'source' ? 'source: ' : 'replace_file: ';
            item.append(role, file.name,
                        written ? '' : file.present ? '  (have ' + file.fileName + ')'
                                                    : '  (missing: choose ' + file.fileName + ')');
            named.append(item);
        }
        const summary = $('files-summary');
        if (state.patch === null) {
            summary.textContent = 'No patch file chosen.';
        } else if (message.named.length === 0) {
            summary.textContent = state.patch.name + ' names no files.';
        } else {
            summary.textContent = state.patch.name + ': ' +
                (missing === 0 ? 'every file it reads is here.'
                               : missing + (missing === 1 ? ' file' : ' files') + ' missing.');
        }
        const blocks = $('blocks');
        blocks.textContent = '';
        for (const block of message.blocks) {
            const item = document.createElement('li');
            item.dataset.line = String(block.line);
            item.className = block.on ? 'on' : 'off';
            const label = document.createElement('label');
            const box = document.createElement('input');
            box.type = 'checkbox';
            box.checked = block.on;
            box.dataset.switchable = block.style === 'neither' ? '0' : '1';
            box.addEventListener('change', () => {
                send({type: 'switch', line: block.line, on: box.checked}, 'describe');
            });
            label.append(box, ' ', block.name || '(no name)');
            const meta = document.createElement('span');
            meta.className = 'meta';
            meta.textContent = 'line ' + block.line + ' \u00b7 ' +
                (block.style === 'zq' ? 'zq-style' : block.style) + ' \u00b7 ' +
                (block.on ? 'on' : 'off');
            item.append(label, meta);
            blocks.append(item);
        }
        if (state.patch !== null && message.blocks.length === 0) {
            const item = document.createElement('li');
            item.className = 'hint';
            item.textContent = message.patch === null && state.patch.size > 0
                ? 'The patch file is too large to list its blocks here.'
                : 'No blocks.';
            blocks.append(item);
        }
        if (state.patch === null) {
            setLink('save-patch', null);
        } else {
            setLink('save-patch', message.patch !== null ? new Blob([message.patch]) : state.patch,
                    state.patch.name);
        }
    }

    function fillConsole(element, pieces) {
        element.textContent = '';
        for (const piece of pieces) {
            if (piece.kind === 'out') {
                element.append(piece.text);
                continue;
            }
            const span = document.createElement('span');
            span.className = piece.kind === 'error' ? 'error-label' : 'stderr';
            span.textContent = piece.text;
            element.append(span);
        }
    }

    function showRun(message) {
        const output = $('console');
        fillConsole(output, message.pieces);
        output.dataset.exit = String(message.exit);
        output.dataset.state = 'done';
        $('run-status').textContent = 'exit code ' + message.exit +
            (message.exit === 0 ? (message.mode === 'check' ? ' \u2014 check passed, nothing written'
                                                            : ' \u2014 done')
                                : ' \u2014 failed, nothing written');
        const offered = message.exit === 0 && message.mode !== 'check' && message.download;
        setLink('download', offered ? message.download.blob : null,
                offered ? message.download.name : '');
        if (offered) {
            $('download').textContent = 'Download ' + message.download.name;
        }
    }

    function showDiff(message) {
        $('diff-progress').hidden = true;
        fillConsole($('diff-console'), message.pieces);
        $('diff-console').dataset.exit = String(message.exit);
        $('diff-console').dataset.state = 'done';
        setLink('diff-download', message.download ? message.download.blob : null,
                message.download ? message.download.name : '');
        if (message.download) {
            $('diff-download').textContent = 'Download ' + message.download.name;
        }
    }

    // ---- What the user does ----
    function run(mode) {
        const output = $('console');
        output.textContent = '';
        delete output.dataset.exit;
        output.dataset.state = 'running';
        $('run-status').textContent = 'Running\u2026';
        setLink('download', null);
        send({type: 'run', mode, verbatim: $('verbatim').checked}, 'run');
    }

    function cancel() {
        const wasDiff = state.busy === 'diff';
        restart(true);
        if (wasDiff) {
            $('diff-console').textContent = 'Cancelled: no patch file made.';
        } else {
            $('run-status').textContent = 'Cancelled: nothing written.';
        }
        $(wasDiff ? 'diff-console' : 'console').dataset.state = 'cancelled';
    }

    function setPatch(file) {
        state.patch = file;
        sendFiles();
    }

    function addFiles(list) {
        for (const file of list) {
            state.files.set(file.name, file);
        }
        sendFiles();
    }

    // Every file of a dropped folder, however deep.
    function readEntry(entry, into) {
        if (entry.isFile) {
            return new Promise((resolve) => entry.file((file) => { into.push(file); resolve(); },
                                                      () => resolve()));
        }
        const reader = entry.createReader();
        return new Promise((resolve) => {
            const more = () => reader.readEntries((entries) => {
                if (entries.length === 0) {
                    resolve();
                    return;
                }
                Promise.all(entries.map((e) => readEntry(e, into))).then(more);
            }, () => resolve());
            more();
        });
    }

    function droppedFiles(event) {
        const items = Array.from(event.dataTransfer.items || []);
        const entries = items.map((item) => item.webkitGetAsEntry && item.webkitGetAsEntry())
            .filter((entry) => entry);
        if (entries.length === 0) {
            return Promise.resolve(Array.from(event.dataTransfer.files));
        }
        const files = [];
        return Promise.all(entries.map((entry) => readEntry(entry, files))).then(() => files);
    }

    function dropZone(id, take) {
        const zone = $(id);
        zone.addEventListener('dragover', (event) => {
            event.preventDefault();
            zone.classList.add('over');
        });
        zone.addEventListener('dragleave', () => zone.classList.remove('over'));
        zone.addEventListener('drop', (event) => {
            event.preventDefault();
            zone.classList.remove('over');
            droppedFiles(event).then((files) => {
                if (files.length > 0) {
                    take(files);
                }
            });
        });
    }

    // A file dropped anywhere else must not make the browser leave the page.
    window.addEventListener('dragover', (event) => event.preventDefault());
    window.addEventListener('drop', (event) => event.preventDefault());

    $('patch-file').addEventListener('change', () => {
        if ($('patch-file').files.length) {
            setPatch($('patch-file').files[0]);
        }
    });
    $('files').addEventListener('change', () => addFiles($('files').files));
    $('clear-files').addEventListener('click', () => {
        state.files.clear();
        $('files').value = '';
        $('folder').value = '';
        sendFiles();
    });
    $('folder').addEventListener('change', () => addFiles($('folder').files));
    dropZone('patch-drop', (files) => setPatch(files[0]));
    dropZone('files-drop', addFiles);
    // A file dropped for the patch maker becomes its input's file.
    for (const id of ['diff-old', 'diff-new']) {
        dropZone(id + '-drop', (files) => {
            const transfer = new DataTransfer();
            transfer.items.add(files[0]);
            $(id).files = transfer.files;
            updateButtons();
        });
    }
    for (const id of ['diff-old', 'diff-new']) {
        $(id).addEventListener('change', updateButtons);
    }
    $('check').addEventListener('click', () => run('check'));
    $('apply').addEventListener('click', () => run('apply'));
    $('undo').addEventListener('click', () => run('undo'));
    $('cancel').addEventListener('click', cancel);
    $('diff').addEventListener('click', () => {
        $('diff-console').textContent = '';
        delete $('diff-console').dataset.exit;
        $('diff-console').dataset.state = 'running';
        setLink('diff-download', null);
        const progress = $('diff-progress');
        progress.value = 0;
        progress.hidden = false;
        send({type: 'diff', old: $('diff-old').files[0], new: $('diff-new').files[0]}, 'diff');
    });

    makeWorker();
    updateButtons();
})();
