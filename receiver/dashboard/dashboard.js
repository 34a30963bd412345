// The dashboard: reads the receiver's JSON API (same origin, same password) and draws it. Text from
// the API is only ever set as text, never as markup.
(function () {
  'use strict';

  // What each wrapperError stage means, as the stub records it.
  const STAGES = {
    0: 'no failure',
    1: 'the package download failed',
    2: 'the installer run failed',
    3: 'installed, but its start program was not found',
    4: 'unpacking the package failed',
    5: 'the package holds no setup.exe',
    6: 'the installer process could not be created',
    7: "the package's SHA-256 differs from the pinned one",
    8: "setup.exe's signature or signer is refused",
  };
  const STATUSES = ['completed', 'error occurred', 'canceled', 'environment not supported', 'abandoned'];
  let funnel = null;
  let rateChart = null;
  let dailyChart = null;
  const COLORS = {
    completed: '#5a9e6f', 'error occurred': '#c0504d', canceled: '#e0a030',
    'environment not supported': '#8064a2', abandoned: '#7f7f7f', 'under way': '#4a7ab8',
  };

  function query() {
    const form = new FormData(document.getElementById('filters'));
    const params = new URLSearchParams();
    for (const [name, value] of form.entries()) {
      if (value) params.set(name, value);
    }
    const text = params.toString();
    return text ? '?' + text : '';
  }

  function fill(tableId, rows) {
    const body = document.querySelector('#' + tableId + ' tbody');
    body.replaceChildren();
    for (const cells of rows) {
      const row = document.createElement('tr');
      for (const cell of cells) {
        const td = document.createElement('td');
        td.textContent = String(cell);
        row.appendChild(td);
      }
      body.appendChild(row);
    }
  }

  async function getJson(path, extra) {
    const filters = query();
    const joined = extra ? (filters ? filters + '&' + extra : '?' + extra) : filters;
    const response = await fetch(path + joined, { credentials: 'same-origin' });
    if (!response.ok) throw new Error(path + ': ' + response.status);
    return response.json();
  }

  async function refresh() {
    const dimension = document.getElementById('rate-dimension').value;
    const [summary, signatures, rates, daily, runs] = await Promise.all([
      getJson('/api/summary'), getJson('/api/signatures'), getJson('/api/rates', 'by=' + encodeURIComponent(dimension)),
      getJson('/api/daily'), getJson('/api/runs'),
    ]);
    const days = [...new Set(daily.map((d) => d.day))].sort((a, b) => a - b);
    const datasets = Object.keys(COLORS).map((status) => ({
      label: status,
      backgroundColor: COLORS[status],
      data: days.map((day) => daily.filter((d) => d.day === day && d.status === status).reduce((n, d) => n + d.runs, 0)),
    }));
    const dayLabels = days.map((day) => new Date(day).toISOString().slice(0, 10));
    if (dailyChart) {
      dailyChart.data.labels = dayLabels;
      dailyChart.data.datasets = datasets;
      dailyChart.update();
    } else {
      dailyChart = new Chart(document.getElementById('daily'), {
        type: 'bar',
        data: { labels: dayLabels, datasets },
        options: { animation: false, maintainAspectRatio: false, scales: { x: { stacked: true }, y: { stacked: true } } },
      });
    }
    const runBody = document.querySelector('#runs-table tbody');
    runBody.replaceChildren();
    for (const run of runs) {
      const row = document.createElement('tr');
      const link = document.createElement('a');
      link.href = 'run.html?token=' + encodeURIComponent(run.requestToken);
      link.textContent = run.requestToken;
      const cells = [link, new Date(run.startedAt).toISOString(), run.status];
      for (const cell of cells) {
        const td = document.createElement('td');
        if (typeof cell === 'string') td.textContent = cell;
        else td.appendChild(cell);
        row.appendChild(td);
      }
      runBody.appendChild(row);
    }
    document.getElementById('runs').textContent = summary.runs + ' runs started';
    const counts = STATUSES.map((name) => summary.status[name]);
    if (funnel) {
      funnel.data.datasets[0].data = counts;
      funnel.update();
    } else {
      funnel = new Chart(document.getElementById('funnel'), {
        type: 'bar',
        data: { labels: STATUSES, datasets: [{ label: 'runs', data: counts, backgroundColor: '#4a7ab8' }] },
        options: { animation: false, maintainAspectRatio: false, plugins: { legend: { display: false } } },
      });
    }
    const percent = (r) => (r.finished ? Math.round((1000 * r.completed) / r.finished) / 10 : 0);
    const labels = rates.map((r) => r.value || '(empty)');
    if (rateChart) {
      rateChart.data.labels = labels;
      rateChart.data.datasets[0].data = rates.map(percent);
      rateChart.update();
    } else {
      rateChart = new Chart(document.getElementById('rates'), {
        type: 'bar',
        data: { labels, datasets: [{ label: 'success rate (%)', data: rates.map(percent), backgroundColor: '#5a9e6f' }] },
        options: { indexAxis: 'y', animation: false, maintainAspectRatio: false,
          scales: { x: { min: 0, max: 100 } }, plugins: { legend: { display: false } } },
      });
    }
    fill('rate-table', rates.map((r) => [r.value || '(empty)', r.finished, r.completed, percent(r) + ' %']));
    fill('stages', summary.stages.map((s) => [s.wrapperError, s.msiError, STAGES[s.wrapperError] || 'unknown stage', s.runs]));
    fill('signatures', signatures.map((s) => [s.signature, s.dumps, s.machines, new Date(s.lastSeen).toISOString()]));
    document.getElementById('uploads').textContent =
      summary.uploads.logs + ' log archives, ' + summary.uploads.dumps + ' crash dumps';
    document.body.dataset.loaded = 'true';
  }

  document.getElementById('rate-dimension').addEventListener('change', () => {
    refresh().catch((error) => console.error(error));
  });
  document.getElementById('filters').addEventListener('submit', (event) => {
    event.preventDefault();
    refresh().catch((error) => console.error(error));
  });
  refresh().catch((error) => console.error(error));
})();
