// The page's side of the worker protocol: each request is a message with an
// id, answered by one message with the same id. A worker that dies (the
// module aborted, memory ran out) fails every waiting request with a message
// and is replaced by a fresh one, which has no image open.

export class Engine {
  constructor(url = new URL('./worker.js', import.meta.url)) {
    this.url = url;
    this.pending = new Map();
    this.nextId = 1;
    this.onRestart = () => {};
    this.start();
  }

  start() {
    this.worker = new Worker(this.url, { type: 'module' });
    this.worker.onmessage = ({ data: { id, result, error, dead } }) => {
      if (dead) {
        this.fail(`The computation stopped unexpectedly (${error}); please open the image again.`);
        return;
      }
      const waiting = this.pending.get(id);
      if (!waiting) return;
      this.pending.delete(id);
      if (error !== undefined) waiting.reject(new Error(error));
      else waiting.resolve(result);
    };
    this.worker.onerror = (event) => {
      event.preventDefault();
      this.fail(`The computation stopped unexpectedly (${event.message || 'worker error'}); please open the image again.`);
    };
  }

  fail(message) {
    this.worker.terminate();
    for (const waiting of this.pending.values()) waiting.reject(Object.assign(new Error(message), { restarted: true }));
    this.pending.clear();
    this.start();
    this.onRestart(message);
  }

  request(op, args = {}, transfer = []) {
    const id = this.nextId++;
    return new Promise((resolve, reject) => {
      this.pending.set(id, { resolve, reject });
      this.worker.postMessage({ id, op, args }, transfer);
    });
  }
}
