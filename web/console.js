// The service console's page: search, watch, plot, table, input and lint,
// all through the console's JSON API on the same origin.
'use strict';

const PAGE_SIZE = 50;
const PLOT_SECONDS = 600;  // the plot keeps the last ten minutes

const $ = (id) => document.getElementById(id);
const state = {
  watched: [],        // {name, index, plot, cell, unitCell, last}
  stream: null,
  search: {match: '', offset: 0, total: 0, timer: 0, serial: 0},
  plot: {graph: null, rows: [], paused: false, labels: []},
  input: {name: '', previewed: null},
  table: {name: '', from: 0, elements: 0},
};

function el(tag, props, ...children) {
  const node = document.createElement(tag);
  Object.assign(node, props || {});
  for (const child of children) node.append(child);
  return node;
}

async function api(path, options) {
  const response = await fetch(path, options);
  let body = null;
  try { body = await response.json(); } catch (e) { body = {error: 15, text: response.statusText}; }
  return {status: response.status, body};
}

function postJson(path, document) {
  return api(path, {method: 'POST', headers: {'Content-Type': 'application/json'},
                    body: JSON.stringify(document)});
}

const key = (name, index) => name + '\u0000' + index;
const streamName = (w) => (w.index ? w.name + ' ' + w.index : w.name);

// ------------------------------------------------------------ search

function pattern(text) {
  text = text.trim();
  if (!text) return '*';
  return /[*?]/.test(text) ? text : '*' + text + '*';
}

function scheduleSearch() {
  clearTimeout(state.search.timer);
  state.search.timer = setTimeout(() => { state.search.offset = 0; runSearch(); }, 150);
}

async function runSearch() {
  const s = state.search;
  s.match = pattern($('search').value);
  const serial = ++s.serial;
  const {status, body} = await api('/api/names?match=' + encodeURIComponent(s.match) +
                                   '&limit=' + PAGE_SIZE + '&offset=' + s.offset);
  if (serial !== s.serial) return;  // an older answer overtaken by typing
  const list = $('results');
  list.replaceChildren();
  if (status !== 200) {
    $('search-summary').textContent = body.text || 'search failed';
    return;
  }
  s.total = body.total;
  const last = Math.min(s.offset + body.names.length, s.total);
  $('search-summary').textContent = s.total
      ? `${s.offset + 1}–${last} of ${s.total} names matching ${s.match}`
      : `no name matches ${s.match}`;
  for (const entry of body.names) {
    const meta = `${entry.type}${entry.unit ? ' ' + entry.unit : ''}` +
                 (entry.elements > 1 ? ` · ${entry.elements} elements` : '') +
                 (entry.handle === null ? ' · by name' : ` · #${entry.handle}`);
    const watch = el('button', {textContent: 'Watch', className: 'watch'});
    watch.addEventListener('click', () => addWatch(entry.name, 0, true));
    const row = el('li', {}, el('span', {className: 'name'}, entry.name, el('br'),
                                 el('span', {className: 'meta', textContent: meta})), watch);
    if (entry.elements > 1) {
      const table = el('button', {textContent: 'Table', className: 'table'});
      table.addEventListener('click', () => openTable(entry.name, 0));
      row.append(table);
    }
    row.dataset.name = entry.name;
    list.append(row);
  }
  $('page-prev').disabled = s.offset === 0;
  $('page-next').disabled = last >= s.total;
}

// ------------------------------------------------------------ watch list

function addWatch(name, index, plot) {
  if (state.watched.some((w) => w.name === name && w.index === index)) return;
  const cell = el('td', {className: 'value', textContent: '…'});
  const unitCell = el('td');
  const plotBox = el('input', {type: 'checkbox', checked: plot});
  const w = {name, index, plot, cell, unitCell, last: null};
  plotBox.addEventListener('change', () => { w.plot = plotBox.checked; rebuildPlot(); });
  const input = el('button', {textContent: 'Input'});
  input.addEventListener('click', () => openInput(name, index));
  const remove = el('button', {textContent: '✕', title: 'Stop watching'});
  remove.addEventListener('click', () => {
    state.watched = state.watched.filter((x) => x !== w);
    row.remove();
    restartStream();
    rebuildPlot();
  });
  const row = el('tr', {}, el('td', {textContent: name}), el('td', {textContent: String(index)}),
                 cell, unitCell, el('td', {}, plotBox),
                 el('td', {}, el('div', {className: 'row-actions'}, input, remove)));
  row.dataset.name = name;
  row.dataset.index = index;
  w.row = row;
  state.watched.push(w);
  $('watchlist').tBodies[0].append(row);
  restartStream();
  rebuildPlot();
}

function restartStream() {
  $('watch-empty').hidden = state.watched.length > 0;
  if (state.stream) state.stream.close();
  state.stream = null;
  if (!state.watched.length) return setConnection('idle', false);
  const names = state.watched.map(streamName).map(encodeURIComponent).join(',');
  const stream = new EventSource('/api/events?names=' + names);
  state.stream = stream;
  stream.onopen = () => setConnection('live', true);
  stream.onerror = () => setConnection(stream.readyState === 2 ? 'stream refused' : 'reconnecting…', false);
  stream.onmessage = (event) => showValue(JSON.parse(event.data));
  stream.addEventListener('failed', (event) => {
    const value = JSON.parse(event.data);
    const w = state.watched.find((x) => x.name === value.name && x.index === value.index);
    if (w) { w.cell.textContent = value.text; w.cell.classList.add('failed'); }
  });
}

function setConnection(text, live) {
  $('connection').textContent = text;
  $('connection').classList.toggle('live', live);
}

function numberOf(value) {
  // The display text is in the unit shown; the raw value is the stored one.
  const shown = parseFloat(value.text);
  if (Number.isFinite(shown)) return shown;
  return typeof value.raw === 'number' ? value.raw : null;
}

function showValue(value) {
  const w = state.watched.find((x) => x.name === value.name && x.index === value.index);
  if (!w) return;
  w.last = value;
  w.cell.textContent = value.text !== '' ? value.text : String(value.raw);
  w.cell.title = 'raw ' + JSON.stringify(value.raw);
  w.cell.classList.remove('failed', 'changed');
  void w.cell.offsetWidth;  // restarts the flash
  w.cell.classList.add('changed');
  w.unitCell.textContent = value.unit;
  w.row.dataset.text = value.text;
  addSample();
}

// ------------------------------------------------------------ plot

function plotted() {
  return state.watched.filter((w) => w.plot && w.last && numberOf(w.last) !== null);
}

function rebuildPlot() {
  const p = state.plot;
  p.rows = [];
  p.labels = ['time', ...plotted().map((w) => (w.index ? `${w.name}[${w.index}]` : w.name))];
  if (p.graph) { p.graph.destroy(); p.graph = null; }
  addSample();
}

function addSample() {
  const p = state.plot;
  const series = plotted();
  if (series.length !== p.labels.length - 1) return rebuildPlot();
  if (!series.length) return;
  const now = new Date();
  p.rows.push([now, ...series.map((w) => numberOf(w.last))]);
  while (p.rows.length && now - p.rows[0][0] > PLOT_SECONDS * 1000) p.rows.shift();
  if (p.paused) return;
  if (!p.graph) {
    p.graph = new Dygraph($('plot'), p.rows, {labels: p.labels, legend: 'always',
                                               labelsSeparateLines: false, stepPlot: false,
                                               connectSeparatedPoints: true});
  } else if (!p.graph.isZoomed()) {
    p.graph.updateOptions({file: p.rows});
  }
}

function exportCsv() {
  const p = state.plot;
  const lines = [p.labels.map((l) => '"' + l.replace(/"/g, '""') + '"').join(',')];
  for (const row of p.rows) lines.push([row[0].toISOString(), ...row.slice(1)].join(','));
  const link = el('a', {href: URL.createObjectURL(new Blob([lines.join('\n') + '\n'], {type: 'text/csv'})),
                        download: 'korvex-plot.csv'});
  document.body.append(link);
  link.click();
  link.remove();
}

// ------------------------------------------------------------ input

function openInput(name, index) {
  state.input = {name, previewed: null};
  $('input-name').textContent = name;
  $('input-index').value = index;
  $('input-text').value = '';
  $('preview-lines').replaceChildren();
  $('input-result').textContent = '';
  $('confirm-btn').disabled = true;
  $('input-panel').hidden = false;
  $('input-text').focus();
}

function showResult(status, body, sentWord) {
  const result = $('input-result');
  result.className = 'result ' + (body.error ? 'error' : 'ok');
  result.textContent = body.error ? `${body.text} (error ${body.error}, HTTP ${status})`
                                  : `${sentWord}: ${(body.sent || []).length} line(s)`;
}

async function preview(event) {
  event.preventDefault();
  const request = {text: $('input-text').value, index: Number($('input-index').value) || 0,
                   preview: true};
  const {status, body} = await postJson('/api/input/' + encodeURIComponent(state.input.name), request);
  const lines = $('preview-lines');
  lines.replaceChildren(...(body.sent || []).map((line) => el('li', {textContent: line})));
  if (!body.error && !(body.sent || []).length) lines.append(el('li', {textContent: '(nothing would be sent)'}));
  showResult(status, body, 'Preview');
  state.input.previewed = body.error ? null : request;
  $('confirm-btn').disabled = !!body.error;
}

async function confirmInput() {
  const request = state.input.previewed;
  if (!request) return;
  $('confirm-btn').disabled = true;
  const {status, body} = await postJson('/api/input/' + encodeURIComponent(state.input.name),
                                        {...request, preview: false});
  showResult(status, body, 'Sent');
  state.input.previewed = null;
}

// ------------------------------------------------------------ table

async function openTable(name, from) {
  state.table.name = name;
  state.table.from = Math.max(0, from);
  const {status, body} = await api('/api/table/' + encodeURIComponent(name) + '?from=' +
                                   state.table.from + '&count=' + PAGE_SIZE);
  $('table-panel').hidden = false;
  $('table-name').textContent = name;
  const rows = $('table-view').tBodies[0];
  rows.replaceChildren();
  if (status !== 200) {
    $('table-summary').textContent = body.text;
    return;
  }
  state.table.elements = body.elements;
  const last = Math.min(state.table.from + body.values.length, body.elements);
  $('table-summary').textContent = `elements ${state.table.from}–${last - 1} of ${body.elements}`;
  for (const value of body.values) {
    const watch = el('button', {textContent: 'Watch'});
    watch.addEventListener('click', () => addWatch(name, value.index, true));
    rows.append(el('tr', {}, el('td', {textContent: String(value.index)}),
                   el('td', {className: 'value' + (value.error ? ' failed' : ''),
                             textContent: value.error ? value.text : value.text}),
                   el('td', {textContent: value.unit || ''}),
                   el('td', {textContent: value.error ? '' : JSON.stringify(value.raw)}),
                   el('td', {}, watch)));
  }
  $('table-prev').disabled = state.table.from === 0;
  $('table-next').disabled = last >= body.elements;
}

// ------------------------------------------------------------ lint and views

async function showLint() {
  const {status, body} = await api('/api/lint');
  const rows = $('lint-view').tBodies[0];
  rows.replaceChildren();
  if (status !== 200) {
    $('lint-summary').textContent = body.text;
    return;
  }
  $('lint-summary').textContent = body.findings.length
      ? `${body.findings.length} finding(s) in the machine's files`
      : 'No findings: the handle and definition files read as they are meant.';
  for (const f of body.findings)
    rows.append(el('tr', {}, el('td', {textContent: f.file}), el('td', {textContent: String(f.line)}),
                   el('td', {textContent: f.caption}), el('td', {textContent: f.text})));
}

function showView(view) {
  for (const tab of document.querySelectorAll('.tab')) tab.classList.toggle('active', tab.dataset.view === view);
  $('view-values').hidden = view !== 'values';
  $('view-lint').hidden = view !== 'lint';
  if (view === 'lint') showLint();
}

async function loadUnits() {
  const {status, body} = await api('/api/units');
  if (status === 200) $('unit-switch').checked = !!(body.inch1 && body.inch2);
}

async function switchUnits() {
  const {status, body} = await postJson('/api/units', {inch: $('unit-switch').checked});
  if (status === 200) $('unit-switch').checked = !!(body.inch1 && body.inch2);
  rebuildPlot();  // a series changes its unit: start it afresh
  runSearch();
}

function start() {
  $('search').addEventListener('input', scheduleSearch);
  $('page-prev').addEventListener('click', () => { state.search.offset = Math.max(0, state.search.offset - PAGE_SIZE); runSearch(); });
  $('page-next').addEventListener('click', () => { state.search.offset += PAGE_SIZE; runSearch(); });
  $('plot-pause').addEventListener('click', () => {
    state.plot.paused = !state.plot.paused;
    $('plot-pause').textContent = state.plot.paused ? 'Resume' : 'Pause';
    if (!state.plot.paused) addSample();
  });
  $('plot-reset').addEventListener('click', () => state.plot.graph && state.plot.graph.resetZoom());
  $('plot-csv').addEventListener('click', exportCsv);
  $('input-form').addEventListener('submit', preview);
  $('input-text').addEventListener('input', () => { $('confirm-btn').disabled = true; state.input.previewed = null; });
  $('confirm-btn').addEventListener('click', confirmInput);
  $('input-close').addEventListener('click', () => { $('input-panel').hidden = true; });
  $('table-prev').addEventListener('click', () => openTable(state.table.name, state.table.from - PAGE_SIZE));
  $('table-next').addEventListener('click', () => openTable(state.table.name, state.table.from + PAGE_SIZE));
  $('table-refresh').addEventListener('click', () => openTable(state.table.name, state.table.from));
  $('table-close').addEventListener('click', () => { $('table-panel').hidden = true; });
  $('unit-switch').addEventListener('change', switchUnits);
  for (const tab of document.querySelectorAll('.tab')) tab.addEventListener('click', () => showView(tab.dataset.view));

  // /?watch=A,B (an element as "NAME INDEX") opens with those watched and plotted.
  const watch = new URLSearchParams(location.search).get('watch');
  for (const item of (watch || '').split(',').map((s) => s.trim()).filter(Boolean)) {
    const m = /^(.*?)(?:[ :](\d+))?$/.exec(item);
    addWatch(m[1], m[2] ? Number(m[2]) : 0, true);
  }
  $('watch-empty').hidden = state.watched.length > 0;
  loadUnits();
  runSearch();
}

start();
