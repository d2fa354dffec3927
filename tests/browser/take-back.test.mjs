// A share taken back from the terminal: its page, open in headless Chromium, reloads as gone.
// lumo-share itself publishes and deletes it, run as a real process with a home of its own,
// against the reference service of share_pages_fixture. Screenshots land in $LUMO_SCREENSHOTS.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { createInterface } from 'node:readline';
import { chromium } from 'playwright-core';

const screenshots = process.env.LUMO_SCREENSHOTS ?? 'screenshots';
let fixture, world, browser, home;

/// Runs lumo-share with the test's own data and configuration folders.
function lumoShare(...args) {
  const env = {
    PATH: process.env.PATH,
    HOME: home,
    XDG_DATA_HOME: join(home, 'data'),
    XDG_CONFIG_HOME: join(home, 'config'),
    XDG_RUNTIME_DIR: join(home, 'runtime'),
  };
  return spawnSync(process.env.LUMO_SHARE, args, { env, encoding: 'utf8', timeout: 60000 });
}

before(async () => {
  mkdirSync(screenshots, { recursive: true });
  home = mkdtempSync(join(tmpdir(), 'lumo-take-back-'));
  mkdirSync(join(home, 'runtime'), { mode: 0o700 });
  fixture = spawn(process.env.LUMO_PAGES_FIXTURE, [], { stdio: ['pipe', 'pipe', 'inherit'] });
  const lines = createInterface({ input: fixture.stdout });
  world = JSON.parse(await new Promise((resolve) => lines.once('line', resolve)));
  browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ['--no-sandbox'] });
});

after(async () => {
  await browser?.close();
  fixture?.stdin.end();
  if (home) rmSync(home, { recursive: true, force: true });
});

test('a page open in the browser reloads as gone once the terminal takes its share back', async () => {
  const apiBase = new URL('/api/v1', world.base).href;
  const configured = lumoShare('config', 'server', apiBase);
  assert.equal(configured.status, 0, configured.stderr);
  const published = lumoShare('share', '--json', '--text', '发错群的会议纪要');
  assert.equal(published.status, 0, published.stderr);
  const { slug } = JSON.parse(published.stdout);

  const context = await browser.newContext({ viewport: { width: 1280, height: 860 } });
  const page = await context.newPage();
  assert.equal((await page.goto(world.base + slug)).status(), 200);
  await page.getByText('发错群的会议纪要').first().waitFor();
  await page.screenshot({ path: `${screenshots}/taken-back-before-desktop.png` });

  const deleted = lumoShare('delete', slug);
  assert.equal(deleted.status, 0, deleted.stderr);
  assert.match(deleted.stdout, /^已撤回 .*，链接不再有效。\n$/);

  assert.equal((await page.reload()).status(), 410);
  await page.getByText('此分享已被删除').waitFor();
  await page.screenshot({ path: `${screenshots}/taken-back-gone-desktop.png` });
  assert.equal((await context.request.get(world.base + slug + '/file')).status(), 410);
  assert.equal(lumoShare('recent', '--json').stdout, '[]\n', 'its upload record went with it');
  await context.close();
});
