// A throw-away RFC 3161 time-stamp server on the loopback address, for the
// signing test: answers each query (POST application/timestamp-query) with
// `openssl ts -reply` and the TSA certificate and key of CONFIG. Prints its
// URL, then serves until killed or for at most ten minutes.
//   node tsa_server.js CONFIG WORK_DIR
'use strict';
const {execFileSync} = require('child_process');
const fs = require('fs');
const http = require('http');
const path = require('path');

const [config, work] = process.argv.slice(2);
let served = 0;
const server = http.createServer((request, response) => {
  const chunks = [];
  request.on('data', (c) => chunks.push(c));
  request.on('end', () => {
    const query = path.join(work, `query${served}.tsq`);
    const reply = path.join(work, `reply${served}.tsr`);
    served++;
    try {
      fs.writeFileSync(query, Buffer.concat(chunks));
      execFileSync('openssl', ['ts', '-reply', '-config', config, '-queryfile', query, '-out', reply], {stdio: 'ignore'});
      response.writeHead(200, {'Content-Type': 'application/timestamp-reply'});
      response.end(fs.readFileSync(reply));
    } catch (e) {
      response.writeHead(400);
      response.end();
    }
  });
});
server.listen(0, '127.0.0.1', () => console.log(`http://127.0.0.1:${server.address().port}/`));
setTimeout(() => process.exit(0), 600 * 1000).unref();
