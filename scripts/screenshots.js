// Logs in to the sandbox's frontend as Admin and saves four pages as PNG: the ages and the sizes
// in Latest data, Problems, and the template's dashboard, of one host. Run by scripts/screenshots, which says what it needs.
//   node screenshots.js PLAYWRIGHT_CORE_DIR BASE_URL HOSTID OUTPUT_DIR
const [playwrightDir, base, hostid, out] = process.argv.slice(2);
const { chromium } = require(playwrightDir);

(async () => {
  const browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    // The machine's network is closed: no background traffic, no sandbox for root.
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
           '--disable-component-update', '--disable-sync', '--no-first-run'],
  });
  const page = await browser.newPage({ viewport: { width: 1200, height: 300 } });
  await page.goto(`${base}/index.php`);
  await page.fill('#name', 'Admin');
  await page.fill('#password', 'zabbix');
  await Promise.all([page.waitForNavigation(), page.click('#enter')]);

  // The host's pages; the ages of the problems beside their names (operational data).
  const shots = [
    ['latest-data.png',
     `zabbix.php?action=latest.view&filter_set=1&hostids%5B%5D=${hostid}&name=Idade`],
    ['health.png', `zabbix.php?action=latest.view&filter_set=1&hostids%5B%5D=${hostid}&name=Tamanho`],
    ['problems.png',
     `zabbix.php?action=problem.view&filter_set=1&hostids%5B%5D=${hostid}&show_opdata=1`],
  ];
  for (const [file, path] of shots) {
    // Problems has a row per problem, and the page scrolls inside its own frame: room for all.
    await page.setViewportSize({ width: 1200, height: file === 'problems.png' ? 460 : 300 });
    await page.goto(`${base}/${path}`, { waitUntil: 'networkidle' });
    // The filter forms and the menu take most of the page and say nothing about the agent.
    await page.addStyleTag({
      content: '.filter-container, .sidebar { display: none !important; }' +
               ' .wrapper { margin-left: 0 !important; }',
    });
    await page.screenshot({ path: `${out}/${file}`, fullPage: true });
  }
  // The dashboard as a wide screen shows it, without the menu and the time filter.
  await page.setViewportSize({ width: 1600, height: 1000 });
  await page.goto(`${base}/zabbix.php?action=host.dashboard.view&hostid=${hostid}&from=now-12h&to=now`,
                  { waitUntil: 'networkidle' });
  await page.addStyleTag({ content: '.sidebar, .filter-container { display: none !important; }' +
                                    ' .wrapper { margin-left: 0 !important; }' });
  await page.waitForTimeout(3000);
  await page.screenshot({ path: `${out}/dashboard.png`, fullPage: true });
  await browser.close();
})().catch((error) => {
  console.error(error);
  process.exit(1);
});
