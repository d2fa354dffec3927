// The share pages as a person sees them: headless Chromium (Debian's) driven by Playwright,
// against the reference service of share_pages_fixture, whose shares were published through the
// library's own client. Screenshots of every page land in $LUMO_SCREENSHOTS.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { mkdirSync, readFileSync } from 'node:fs';
import { createInterface } from 'node:readline';
import { chromium } from 'playwright-core';

const screenshots = process.env.LUMO_SCREENSHOTS ?? 'screenshots';
const viewports = { desktop: { width: 1280, height: 860 }, phone: { width: 390, height: 844 } };
let fixture, lines, world, browser;

/// The next line the fixture prints.
const nextLine = () => new Promise((resolve) => lines.once('line', resolve));

before(async () => {
  mkdirSync(screenshots, { recursive: true });
  fixture = spawn(process.env.LUMO_PAGES_FIXTURE, [], { stdio: ['pipe', 'pipe', 'inherit'] });
  lines = createInterface({ input: fixture.stdout });
  world = JSON.parse(await nextLine());
  browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ['--no-sandbox'] });
});

after(async () => {
  await browser?.close();
  fixture?.stdin.end();
});

const url = (name, suffix = '') => world.base + world.shares[name] + suffix;

/// A fresh browser context (no cookies), one page in it, at `viewport`.
async function open(viewport = 'desktop') {
  const context = await browser.newContext({ viewport: viewports[viewport], acceptDownloads: true });
  return { context, page: await context.newPage() };
}

/// Screenshots `name`'s page at both widths, each in a fresh context.
async function screenshotBoth(name, file, prepare = async () => {}) {
  for (const viewport of Object.keys(viewports)) {
    const { context, page } = await open(viewport);
    await page.goto(url(name));
    await prepare(page);
    await page.screenshot({ path: `${screenshots}/${file}-${viewport}.png`, fullPage: true });
    await context.close();
  }
}

describe('share pages', () => {
  test('a short link redirects to its target', async () => {
    const { context, page } = await open();
    const direct = await context.request.get(url('link'), { maxRedirects: 0 });
    assert.equal(direct.status(), 302);
    assert.equal(direct.headers()['location'], world.shares.linkTarget);
    await page.goto(url('link'));
    assert.equal(page.url(), world.shares.linkTarget);
    await context.close();
  });

  test('a password form guards a document and a link until the right password', async () => {
    const { context, page } = await open();
    assert.equal((await context.request.get(url('protected', '/file'))).status(), 401);
    assert.equal((await context.request.get(url('protected', '/view'))).status(), 401);
    await page.goto(url('protected'));
    await page.screenshot({ path: `${screenshots}/password-desktop.png` });
    await page.fill('input[name=password]', 'wrong');
    await page.click('button[type=submit]');
    await page.getByText('密码不正确').waitFor();
    await page.screenshot({ path: `${screenshots}/password-wrong-desktop.png` });
    await page.fill('input[name=password]', 'open sesame');
    await page.click('button[type=submit]');
    await page.getByText('机密内容 top secret').waitFor();
    const [cookie] = await context.cookies();
    assert.deepEqual([cookie.httpOnly, cookie.sameSite, cookie.path],
                     [true, 'Strict', new URL(url('protected')).pathname]);
    assert.equal((await context.request.get(url('protected', '/file'))).status(), 200);
    assert.equal((await context.request.get(url('protectedLink'), { maxRedirects: 0 })).status(),
                 401, 'the cookie is scoped to its own share');

    await page.goto(url('protectedLink'));
    await page.fill('input[name=password]', 'open sesame');
    await page.click('button[type=submit]');
    await page.waitForURL(world.shares.linkTarget);
    await context.close();
    await screenshotBoth('protected', 'password');
  });

  test('wrong passwords are rate-limited', async () => {
    const { context } = await open();
    const statuses = [];
    for (let attempt = 0; attempt < 7; attempt++) {
      const reply = await context.request.post(url('protectedLink', '/unlock'),
                                               { form: { password: `guess ${attempt}` } });
      statuses.push(reply.status());
    }
    assert.ok(statuses.includes(429), `statuses: ${statuses}`);
    await context.close();
  });

  test('past its download limit a document says so and is no longer served', async () => {
    const { context, page } = await open();
    await page.goto(url('limited'));
    assert.match(await page.locator('.meta').innerText(), /下载 0 \/ 1 次/);
    const [download] = await Promise.all([page.waitForEvent('download'), page.click('a.button')]);
    assert.equal(readFileSync(await download.path(), 'utf8'), '只能下载一次\n');
    const again = await page.goto(url('limited'));
    assert.equal(again.status(), 410);
    await page.getByText('下载次数已达上限').first().waitFor();
    await page.screenshot({ path: `${screenshots}/limit-reached-desktop.png` });
    assert.equal((await context.request.get(url('limited', '/file'))).status(), 410);
    await context.close();
  });

  test('a view-only document previews without any way to download', async () => {
    const { context, page } = await open();
    await page.goto(url('viewOnly'));
    assert.equal(await page.locator('a.button').count(), 0);
    await page.getByText('仅供在线查看').waitFor();
    const width = await page.locator('.preview img').evaluate(async (image) => {
      await image.decode();
      return image.naturalWidth;
    });
    assert.ok(width > 0, 'the preview loaded');
    assert.equal((await context.request.get(url('viewOnly', '/file'))).status(), 403);
    await context.close();
    await screenshotBoth('viewOnly', 'view-only', (p) => p.locator('.preview img').evaluate((i) => i.decode()));
  });

  test('a burn-after-reading share shows once, then is gone', async () => {
    const { context, page } = await open();
    await page.goto(url('burn'));
    await page.getByText('阅后即焚的内容').waitFor();
    await page.screenshot({ path: `${screenshots}/burn-first-desktop.png` });
    const second = await page.goto(url('burn'));
    assert.equal(second.status(), 410);
    await page.getByText('此分享已被销毁').waitFor();
    await page.screenshot({ path: `${screenshots}/burn-gone-desktop.png` });
    await context.close();
  });

  test('the watermark is drawn over the preview as the sender set it', async () => {
    const { context, page } = await open();
    await page.goto(url('watermarked'));
    await page.locator('.preview img').evaluate((image) => image.decode());
    assert.equal(await page.locator('h1').innerText(), '旅行照片');
    const marks = page.locator('.preview .wm span');
    assert.equal(await marks.count(), 12, 'repeated over the preview');
    const style = await marks.first().evaluate((mark) => {
      const computed = getComputedStyle(mark);
      const box = mark.getBoundingClientRect();
      const preview = mark.closest('.preview').getBoundingClientRect();
      return { text: mark.textContent, opacity: computed.opacity, color: computed.color,
               fontSize: computed.fontSize, transform: computed.transform,
               inside: box.top >= preview.top - box.height && box.bottom <= preview.bottom + box.height };
    });
    const radians = (-30 * Math.PI) / 180;
    const matrix = `matrix(${[Math.cos(radians), Math.sin(radians), -Math.sin(radians), Math.cos(radians), 0, 0]
      .map((n) => Number(n.toFixed(6))).join(', ')})`;
    assert.deepEqual(
      { ...style, transform: style.transform.replace(/-?\d+\.\d+/g, (n) => String(Number(Number(n).toFixed(6)))) },
      { text: '仅供 Ana 查看', opacity: '0.35', color: 'rgb(255, 255, 255)', fontSize: '48px',
        transform: matrix, inside: true });
    await context.close();
    await screenshotBoth('watermarked', 'watermark', (p) => p.locator('.preview img').evaluate((i) => i.decode()));
  });

  test('an expired share gets the gone page', async () => {
    const { context, page } = await open();
    assert.equal((await page.goto(url('expiring'))).status(), 200);
    fixture.stdin.write(`advance ${2 * 86400}\n`);
    assert.equal(await nextLine(), 'ok');
    assert.equal((await page.goto(url('expiring'))).status(), 410);
    await page.getByText('此分享已过期').waitFor();
    await page.screenshot({ path: `${screenshots}/expired-desktop.png` });
    const unknown = await page.goto(world.base + 'no-such-share');
    assert.equal(unknown.status(), 404);
    await page.getByText('找不到此分享').waitFor();
    await context.close();
  });

  test('a non-ASCII file name downloads under its own name', async () => {
    const { context, page } = await open();
    await page.goto(url('unicode'));
    const [download] = await Promise.all([page.waitForEvent('download'), page.click('a.button')]);
    assert.equal(download.suggestedFilename(), '报告 2026 ü.txt');
    assert.equal(readFileSync(await download.path(), 'utf8'), '年度报告\n');
    const direct = await context.request.get(url('unicode', '/file'),
                                              { headers: { Range: 'bytes=3-5' } });
    assert.equal(direct.status(), 206);
    assert.equal((await direct.body()).toString('utf8'), '度');
    assert.match(direct.headers()['content-disposition'],
                 /^attachment; filename="[^"]+"; filename\*=UTF-8''%E6%8A%A5%E5%91%8A%202026%20%C3%BC\.txt$/);
    await context.close();
    await screenshotBoth('unicode', 'document');
  });

  test('HTML under a type that passes for PDF runs nowhere: page, preview or download', async () => {
    const { context, page } = await open();
    const ran = () => page.evaluate(() => [document.title, self.ran === true]);
    for (const name of ['pdfThenHtml', 'pdfThenHtmlUpper', 'pdfThenHtmlSpaced', 'pdfCommaHtml', 'html']) {
      await page.goto(url(name));
      await page.waitForLoadState('load');
      const [title] = await ran();
      assert.notEqual(title, 'escaped', `${name}: the upload reached the page`);
      assert.doesNotMatch(await page.locator('body').innerText(), /rewritten/, name);
      const frames = page.locator('.preview iframe');
      const embedded = (await frames.count()) > 0 ? await frames.getAttribute('src') : null;
      for (const frame of page.frames().slice(1)) {
        assert.deepEqual(await frame.evaluate(() => [document.title, self.ran === true]),
                         ['', false], `${name}: the frame ran the upload's script`);
      }
      for (const source of [url(name, '/view'), ...(embedded ? [new URL(embedded, url(name)).href] : [])]) {
        const reply = await page.goto(source);
        await page.waitForLoadState('load');
        const [viewTitle, marked] = await ran();
        assert.ok(viewTitle !== 'ran' && !marked, `${name}: ${source} ran the upload's script`);
        if (reply.status() === 200) assert.match(reply.headers()['content-security-policy'], /^sandbox/);
      }
      const download = await context.request.get(url(name, '/file'));
      assert.match(download.headers()['content-disposition'], /^attachment;/);
      assert.match(download.headers()['content-security-policy'], /^sandbox/);
      assert.equal(download.headers()['x-content-type-options'], 'nosniff');
      if (name !== 'html') assert.equal(download.headers()['content-type'], 'application/octet-stream');
    }
    await context.close();
  });

  test('uploaded HTML, SVG and Markdown never run script in the page origin', async () => {
    const { context, page } = await open();
    for (const name of ['html', 'svg']) {
      const reply = await page.goto(url(name));
      assert.match(reply.headers()['content-security-policy'], /default-src 'none'/);
      assert.equal(reply.headers()['x-content-type-options'], 'nosniff');
      assert.equal(reply.headers()['referrer-policy'], 'no-referrer');
      await page.waitForLoadState('load');
      assert.notEqual(await page.title(), 'escaped', `${name}: the upload reached the page`);
      for (const frame of page.frames().slice(1)) {
        assert.equal(await frame.evaluate(() => self.origin).catch(() => 'null'), 'null');
      }
      const embedded = await page.locator('.preview iframe').getAttribute('src');
      const raw = await page.goto(new URL(embedded, page.url()).href);
      assert.match(raw.headers()['content-security-policy'], /^sandbox/);
      assert.notEqual(await page.title(), 'ran', `${name}: the upload's own script ran`);
    }
    await page.goto(url('markdown'));
    assert.equal(await page.locator('.preview h1').innerText(), '说明');
    assert.equal(await page.locator('.preview strong').innerText(), '粗体');
    assert.equal(await page.locator('.preview script').count(), 0);
    assert.notEqual(await page.locator('.preview a').getAttribute('href'), 'javascript:alert(1)');
    assert.notEqual(await page.title(), 'ran');
    await context.close();
    await screenshotBoth('markdown', 'markdown');
  });
});
