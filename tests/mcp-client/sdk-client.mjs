// Drives the tool server with the official MCP TypeScript client over the
// Streamable HTTP transport, as an engine would: bearer header, initialize,
// tools/list, tools/call.
//   node sdk-client.mjs <tool server host program> <expected own tools JSON>
import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StreamableHTTPClientTransport } from '@modelcontextprotocol/sdk/client/streamableHttp.js';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { readFileSync } from 'node:fs';
import { createInterface } from 'node:readline';

const [hostProgram, ownToolsFile] = process.argv.slice(2);
if (!hostProgram || !ownToolsFile) {
  console.error('usage: node sdk-client.mjs <host program> <own-tools.json>');
  process.exit(2);
}
const ownTools = JSON.parse(readFileSync(ownToolsFile, 'utf8'));

// Starts the host program; resolves with its port and token.
async function startHost(...flags) {
  const child = spawn(hostProgram, flags, { stdio: ['pipe', 'pipe', 'inherit'] });
  const lines = createInterface({ input: child.stdout });
  const first = await new Promise((resolve, reject) => {
    lines.once('line', resolve);
    child.once('exit', (code) => reject(new Error(`host exited early (${code})`)));
  });
  const [port, token] = first.trim().split(' ');
  return {
    url: new URL(`http://127.0.0.1:${port}/mcp`),
    token,
    async stop() {
      const exited = new Promise((resolve) => child.once('exit', resolve));
      child.stdin.end();
      const timer = setTimeout(() => child.kill('SIGKILL'), 5000);
      await exited;
      clearTimeout(timer);
    },
  };
}

async function connect(host, token = host.token) {
  const transport = new StreamableHTTPClientTransport(host.url, {
    requestInit: { headers: { Authorization: `Bearer ${token}` } },
  });
  const client = new Client({ name: 'velto-sdk-test', version: '1.0.0' });
  await client.connect(transport);
  return client;
}

const text = (t, isError) => ({ content: [{ type: 'text', text: t }], isError });

async function asShipped() {
  // No browser window: what the app serves today (the families follow the own tools).
  const host = await startHost();
  try {
    const client = await connect(host);
    assert.deepEqual(client.getServerVersion(), { name: 'velto-browser', version: '1.0.0' });
    assert.deepEqual(client.getServerCapabilities(), { tools: { listChanged: false } });
    assert.match(client.getInstructions(), /^The Velto browser window on this computer\./);
    assert.deepEqual(await client.ping(), {});

    const { tools } = await client.listTools();
    assert.deepEqual(tools.slice(0, 27), ownTools);
    assert.deepEqual(tools.map((t) => t.name).slice(27), [
      'erp_connections', 'erp_resources', 'erp_schema', 'erp_list', 'erp_gst', 'erp_gstr1', 'gstr2b_reconcile',
      'bank_statement', 'erp_get', 'erp_trial_balance', 'erp_prepare', 'erp_commit', 'erp_connect_code',
      'mail_accounts', 'mail_search', 'mail_thread',
      'mail_message', 'mail_contacts', 'mail_calendar', 'mail_compose',
      'tally_status', 'tally_ledgers', 'tally_vouchers', 'tally_trial_balance', 'tally_import_voucher',
      'cloud_drives', 'cloud_search', 'cloud_fetch',
      'books_connections', 'books_connect', 'books_contacts',
      'books_invoices', 'books_accounts', 'books_create_invoice',
      'einvoice_status', 'einvoice_connect', 'einvoice_get', 'einvoice_generate', 'einvoice_cancel',
      'skill_install']);

    assert.deepEqual(await client.callTool({ name: 'browser_read', arguments: {} }),
      text('Browser window is not open.', true));
    assert.deepEqual(await client.callTool({ name: 'no_such_tool', arguments: { x: 1 } }),
      text('Browser window is not open.', true));
    await client.close();

    // The wrong token cannot even initialize.
    await assert.rejects(connect(host, '0'.repeat(32)), /401|bad token|Unauthorized/i);
  } finally {
    await host.stop();
  }
}

async function withWindowAndFamily() {
  const host = await startHost('--pane', '--family');
  try {
    const client = await connect(host);
    const { tools } = await client.listTools();
    assert.deepEqual(tools.slice(0, 27), ownTools);
    assert.deepEqual(tools.map((t) => t.name).slice(27), ['test_echo']);

    // Several calls at once, answered from another thread.
    const answers = await Promise.all(['a', 'b', 'c'].map((t) =>
      client.callTool({ name: 'test_echo', arguments: { text: t } })));
    assert.deepEqual(answers, ['a', 'b', 'c'].map((t) => text(`echo: ${t}`, false)));

    assert.deepEqual(await client.callTool({ name: 'no_such_tool', arguments: {} }),
      text('Unknown tool: no_such_tool', true));
    assert.deepEqual(await client.callTool({ name: 'browser_open', arguments: { url: 'https://www.gst.gov.in' } }),
      text('Browser window is not open.', true));
    await client.close();
  } finally {
    await host.stop();
  }
}

try {
  await asShipped();
  await withWindowAndFamily();
  console.log('MCP client test passed');
} catch (error) {
  console.error(error);
  process.exit(1);
}
