import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.net.InetAddress;
import java.net.InetSocketAddress;
import java.net.ServerSocket;
import java.net.Socket;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;

/**
 * A reader on loopback TCP for the bridge tests. It accepts connections one
 * after another, takes each request frame by its length byte, records it and
 * answers with the next scripted bytes (or stays silent when none are
 * scripted). The keep-alive bytes 00 00 are skipped.
 */
final class FakeReader implements AutoCloseable {
    private final ServerSocket server;
    private final Thread thread;
    private final BlockingQueue<byte[]> requests = new LinkedBlockingQueue<>();
    private final BlockingQueue<byte[]> answers = new LinkedBlockingQueue<>();
    private volatile Socket client;

    FakeReader(String bindAddress) throws IOException {
        server = new ServerSocket();
        server.bind(new InetSocketAddress(InetAddress.getByName(bindAddress), 0));
        thread = new Thread(this::serve, "fake-reader");
        thread.setDaemon(true);
        thread.start();
    }

    /** The TCP port, which is also the port index of the link. */
    int port() {
        return server.getLocalPort();
    }

    /** Answers the next request with these bytes. */
    void answer(byte[] bytes) {
        answers.add(bytes);
    }

    /** Answers the next request with one response frame. */
    void answerFrame(int adr, int cmd, int status, int... data) {
        answer(Frames.response(adr, cmd, status, data));
    }

    /** The next request received, or null after `timeoutMs`. */
    byte[] nextRequest(long timeoutMs) throws InterruptedException {
        return requests.poll(timeoutMs, TimeUnit.MILLISECONDS);
    }

    /** Drops answers that no request consumed. */
    void clearAnswers() {
        answers.clear();
    }

    int pendingRequests() {
        return requests.size();
    }

    /** Sends bytes on the current connection without a request. */
    void sendUnsolicited(byte[] bytes) throws IOException {
        Socket current = client;
        if (current == null) throw new IOException("no connection");
        OutputStream out = current.getOutputStream();
        out.write(bytes);
        out.flush();
    }

    private void serve() {
        while (!server.isClosed()) {
            try (Socket socket = server.accept()) {
                client = socket;
                socket.setTcpNoDelay(true);
                serveConnection(socket.getInputStream(), socket.getOutputStream());
            } catch (IOException e) {
                // Connection closed by the library or by close(): take the next.
            } finally {
                client = null;
            }
        }
    }

    private void serveConnection(InputStream in, OutputStream out) throws IOException {
        while (true) {
            int length = in.read();
            if (length < 0) return;
            if (length == 0) continue;  // keep-alive
            byte[] frame = new byte[length + 1];
            frame[0] = (byte) length;
            int got = 1;
            while (got < frame.length) {
                int n = in.read(frame, got, frame.length - got);
                if (n < 0) return;
                got += n;
            }
            requests.add(frame);
            byte[] reply = answers.poll();
            if (reply != null && reply.length > 0) {
                out.write(reply);
                out.flush();
            }
        }
    }

    @Override
    public void close() throws IOException {
        server.close();
        Socket current = client;
        if (current != null) current.close();
        try {
            thread.join(5000);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }
}
