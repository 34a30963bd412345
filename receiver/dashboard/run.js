// A run's own page: its reports side by side, its log archive's entries and the stub's ERROR lines.
// Text from the API is only ever set as text.
(function () {
  'use strict';
  const FIELDS = ['receivedAt', 'status', 'productVersion', 'channelId', 'installLanguage', 'wrapperError', 'msiError',
    'OS', 'language', 'architecture', 'defaultBrowser', 'QXDLMVersion', 'country', 'properties'];

  function cell(tag, text) {
    const element = document.createElement(tag);
    element.textContent = text;
    return element;
  }

  async function show() {
    const token = new URLSearchParams(location.search).get('token') || '';
    document.getElementById('token').textContent = token;
    const response = await fetch('/api/run?token=' + encodeURIComponent(token), { credentials: 'same-origin' });
    if (!response.ok) {
      document.getElementById('outline').textContent = 'No run has this token.';
      document.body.dataset.loaded = 'true';
      return;
    }
    const run = await response.json();
    const when = (ms) => (ms === null ? 'none' : new Date(ms).toISOString());
    document.getElementById('outline').textContent = 'Machine ' + run.machineId + ', started ' + when(run.startedAt) +
      ', final report ' + when(run.finishedAt) + (run.status ? ', ' + run.status : ', no final report');
    const head = document.querySelector('#reports thead tr');
    for (const field of FIELDS) head.appendChild(cell('th', field));
    const body = document.querySelector('#reports tbody');
    for (const report of run.reports) {
      const row = document.createElement('tr');
      for (const field of FIELDS) {
        const value = field === 'receivedAt' ? new Date(Number(report[field])).toISOString() : report[field];
        row.appendChild(cell('td', value));
      }
      body.appendChild(row);
    }
    const entries = document.getElementById('entries');
    for (const entry of run.logEntries) {
      const [name, size] = entry.split('\t');
      entries.appendChild(cell('li', name + ' (' + size + ' bytes)'));
    }
    if (!run.logEntries.length) entries.appendChild(cell('li', 'no archive'));
    document.getElementById('errors').textContent = run.errorLines.join('\n') || 'none';
    document.body.dataset.loaded = 'true';
  }

  show().catch((error) => console.error(error));
})();
