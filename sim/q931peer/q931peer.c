/*
 * q931peer: a Q.931/LAPD far end for tests, built on libpri.
 *
 * One D-channel over UDP on 127.0.0.1: every datagram is one LAPD frame
 * (address, control, information) without flags and FCS. libpri reads and
 * writes frames with two FCS octets at the end; they are added on receipt
 * and stripped before sending.
 *
 *   q931peer --role network|user --line ptp|ptmp|e1 [--switch etsi|qsig]
 *            --local PORT --peer PORT [--script FILE] [-e STEP]... [--debug]
 *            [--answer-after MS] [--steps FIFO] [--reject-reroute] [--t200 MS]
 *
 * --answer-after MS plays a telephone that is always there: every incoming
 * call gets CALL PROCEEDING and ALERTING at once and CONNECT MS later.
 * --steps FIFO makes a named pipe that takes more steps while the peer runs
 * (one per line, e.g. "dial 501 100" written by a shell); they run after the
 * script's own steps, one at a time; a wait there that times out drops the
 * steps that came with it instead of ending the peer.
 * --t200 MS sets libpri's LAPD retransmission timer (default 1000 ms). A
 * peer started before the gateway sends its SABME into the void and resends
 * it every T200; a gateway's own SABME meanwhile gets UA but libpri reports
 * the link up only once one of its own is answered, so a shorter T200 brings
 * the link up sooner after the gateway starts.
 * --reject-reroute answers a deflection request with the error "not allowed"
 * (a network on a point-to-multipoint line cannot answer one before the call
 * is answered: libpri has only the broadcast's master call record then).
 *
 * The script is a list of steps, one per line (a line that begins with '#' is
 * a comment), run in order:
 *   wait EVENT [SECONDS]   wait for an event (see below), default 10 s
 *   dial CALLED [CALLING [NAME]] [--overlap]   place a call (channel: any);
 *                          --overlap: without sending complete; CALLED "-":
 *                          no digits
 *   info DIGITS            INFORMATION with the digits (overlap dialling)
 *   keypad DIGITS          INFORMATION with a keypad facility
 *   proceeding | alerting | answer   on the current call
 *   hangup [CAUSE]         clear the current call (default 16)
 *   reject CAUSE           answer the current SETUP (not yet acknowledged)
 *                          with RELEASE COMPLETE and that cause
 *   restart [CHANNEL]      send RESTART
 *   restart_all            send RESTART of every channel (global call
 *                          reference, restart indicator "all interfaces") in a
 *                          UI frame; libpri itself restarts single channels only
 *   dummy_facility HEX     send FACILITY with the dummy call reference in a UI
 *                          frame, HEX (e.g. 91a2...) the Facility element's
 *                          content: answers to call-independent requests, which
 *                          libpri does not give to its user
 *   reroute NUMBER         ask the far end to deflect the current call to
 *                          NUMBER (CallDeflection from a user on a
 *                          point-to-multipoint line, CallRerouting otherwise)
 *   aoc-d units N | aoc-d currency CUR AMOUNT
 *                          advice of charge during the current call
 *   sleep MS
 *   waitfile PATH [SECONDS]  wait until the file exists (a test's go-ahead)
 *   exit [CODE]
 * Events, printed one per line as they happen:
 *   UP, DOWN, RING called=.. calling=.. channel=.. name=.. complete=..,
 *   PROCEEDING channel=.., SETUP_ACK channel=.., RINGING channel=..,
 *   ANSWER channel=.., CONNECT_ACK, HANGUP_REQ cause=.., HANGUP cause=..,
 *   HANGUP_ACK cause=.., RESTART channel=.., RESTART_ACK channel=..,
 *   INFO digits=.., FACILITY, PROGRESS, NOTIFY,
 *   AOC_D units=N or AOC_D currency=C amount=N (advice of charge during the call),
 *   REROUTE kind=deflection|rerouting to=N (a deflection request; answered with
 *   a result, or with --reject-reroute with the error "not allowed"),
 *   MCID_REQ (a malicious call identification request).
 * Errors the far end returns to our own requests are not reported by libpri;
 * they show in the gateway's D-channel trace.
 * "READY" is printed once the socket is bound and libpri runs.
 * A wait names the event by its first word in lower case (up, ring,
 * hangup ...). A DISCONNECT from the far end is answered with RELEASE at
 * once; as network, a CONNECT with CONNECT ACKNOWLEDGE. "SCRIPT DONE" is printed after the last step; the peer then runs on
 * until it is killed. Exit codes: 0 after exit, 2 when a wait timed out,
 * 1 on a usage or socket error.
 */
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <libpri.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#define MAX_STEPS 256
#define MAX_EVENTS 256

static int sock = -1;
static struct sockaddr_in peer_addr;
static int debug;

static char *steps[MAX_STEPS];
static int nsteps;

static char pending[MAX_EVENTS][16];
static int npending;

static int network_side, line_e1, line_ptmp;
static int reject_reroute;

static q931_call *current;
static int current_channel = -1;

/* --answer-after: the calls still to be answered, with their times */
#define MAX_ANSWERS 64
static int answer_after = -1;
static struct {
	q931_call *call;
	int channel;
	long long due;
} answers[MAX_ANSWERS];

/* --steps: the named pipe and the part of a line read so far */
static int steps_fd = -1;
static char steps_buf[512];
static size_t steps_len;
static int in_step;

static void fatal(const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	vfprintf(stderr, fmt, ap);
	va_end(ap);
	fputc('\n', stderr);
	exit(1);
}

static long long now_ms(void)
{
	struct timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

static int io_read(struct pri *pri, void *buf, int buflen)
{
	(void)pri;
	if (buflen < 3)
		return -1;
	ssize_t n = recv(sock, buf, (size_t)buflen - 2, MSG_DONTWAIT);
	if (n <= 0)
		return -1;
	/* two octets where libpri expects the FCS */
	((unsigned char *)buf)[n] = 0;
	((unsigned char *)buf)[n + 1] = 0;
	return (int)n + 2;
}

static int io_write(struct pri *pri, void *buf, int buflen)
{
	(void)pri;
	if (buflen <= 2)
		return buflen;
	ssize_t n = sendto(sock, buf, (size_t)buflen - 2, 0, (struct sockaddr *)&peer_addr,
			   sizeof peer_addr);
	if (n < 0 && errno != ECONNREFUSED)
		fprintf(stderr, "q931peer: send: %s\n", strerror(errno));
	return buflen;
}

static void pri_msg(struct pri *pri, char *s)
{
	(void)pri;
	if (debug)
		fputs(s, stderr);
}

static void pri_err(struct pri *pri, char *s)
{
	(void)pri;
	fprintf(stderr, "libpri: %s", s);
}

static void event_line(const char *name, const char *fmt, ...)
{
	char rest[1024] = "";
	if (fmt) {
		va_list ap;
		va_start(ap, fmt);
		vsnprintf(rest, sizeof rest, fmt, ap);
		va_end(ap);
	}
	printf("%s%s%s\n", name, *rest ? " " : "", rest);
	fflush(stdout);
	if (npending < MAX_EVENTS) {
		int i;
		for (i = 0; name[i] && i < 15; i++)
			pending[npending][i] = (char)(name[i] >= 'A' && name[i] <= 'Z' ? name[i] - 'A' + 'a' : name[i]);
		pending[npending][i] = 0;
		npending++;
	}
}

static int take_pending(const char *want)
{
	for (int i = 0; i < npending; i++) {
		if (strcmp(pending[i], want) == 0) {
			memmove(pending[i], pending[i + 1], (size_t)(npending - i - 1) * sizeof pending[0]);
			npending--;
			return 1;
		}
	}
	return 0;
}

static int bchan(int channel)
{
	return channel < 0 ? -1 : (channel & 0xFF);
}

/* The supplementary-service items of an event's subcommands: advice of
 * charge, deflection requests (answered here), MCID requests. */
static void subcmd_lines(struct pri *pri, q931_call *call, const struct pri_subcommands *subcmds)
{
	for (int i = 0; subcmds && i < subcmds->counter_subcmd; i++) {
		const struct pri_subcommand *sc = &subcmds->subcmd[i];
		if (sc->cmd == PRI_SUBCMD_AOC_D) {
			const struct pri_subcmd_aoc_d *d = &sc->u.aoc_d;
			if (d->charge == PRI_AOC_DE_CHARGE_UNITS && d->recorded.unit.num_items > 0)
				event_line("AOC_D", "units=%ld", d->recorded.unit.item[0].number);
			else if (d->charge == PRI_AOC_DE_CHARGE_CURRENCY)
				event_line("AOC_D", "currency=%s amount=%ld", d->recorded.money.currency,
					   d->recorded.money.amount.cost);
		} else if (sc->cmd == PRI_SUBCMD_REROUTING) {
			const struct pri_rerouting_data *r = &sc->u.rerouting;
			/* libpri marks a CallDeflection by its reason and leaves the
			 * subscription option "not applicable" */
			int deflection = r->deflection.reason == PRI_REDIR_DEFLECTION || r->subscription_option == 3;
			event_line("REROUTE", "kind=%s to=%s", deflection ? "deflection" : "rerouting",
				   r->deflection.to.number.str);
			if (call)
				pri_rerouting_rsp(pri, call, r->invoke_id,
						  reject_reroute ? PRI_REROUTING_RSP_NOT_ALLOWED : PRI_REROUTING_RSP_OK_CLEAR);
		} else if (sc->cmd == PRI_SUBCMD_MCID_REQ) {
			event_line("MCID_REQ", NULL);
		}
	}
}

static void answer_later(struct pri *pri, q931_call *call, int channel)
{
	int ch = channel;
	if (ch <= 0) {
		/* any channel: the network picks the lowest one not waiting */
		ch = 1;
		for (int i = 0; i < MAX_ANSWERS; i++)
			if (answers[i].call && answers[i].channel == ch) {
				ch++;
				i = -1;
			}
	}
	pri_proceeding(pri, call, ch, 0);
	pri_acknowledge(pri, call, ch, 0);
	for (int i = 0; i < MAX_ANSWERS; i++) {
		if (!answers[i].call) {
			answers[i].call = call;
			answers[i].channel = ch;
			answers[i].due = now_ms() + answer_after;
			return;
		}
	}
	fprintf(stderr, "q931peer: too many calls waiting for their answer\n");
}

static void forget_answer(q931_call *call)
{
	for (int i = 0; i < MAX_ANSWERS; i++)
		if (answers[i].call == call)
			answers[i].call = NULL;
}

static void answer_due(struct pri *pri)
{
	long long now = now_ms();
	for (int i = 0; i < MAX_ANSWERS; i++) {
		if (answers[i].call && answers[i].due <= now) {
			pri_answer(pri, answers[i].call, answers[i].channel, 0);
			answers[i].call = NULL;
		}
	}
}

static int call_step(struct pri *pri, char *line);

/* Runs each whole line that has come in on the steps pipe. */
static void read_steps(struct pri *pri)
{
	ssize_t n = read(steps_fd, steps_buf + steps_len, sizeof steps_buf - 1 - steps_len);
	if (n <= 0)
		return;
	steps_len += (size_t)n;
	for (;;) {
		char *nl = memchr(steps_buf, '\n', steps_len);
		if (!nl) {
			if (steps_len == sizeof steps_buf - 1) {
				fprintf(stderr, "q931peer: step line too long, dropped\n");
				steps_len = 0;
			}
			return;
		}
		*nl = 0;
		char line[sizeof steps_buf];
		size_t used = (size_t)(nl - steps_buf) + 1;
		memcpy(line, steps_buf, used);
		memmove(steps_buf, nl + 1, steps_len - used);
		steps_len -= used;
		line[strcspn(line, "\r")] = 0;
		if (line[strspn(line, " \t")] == '#')
			continue;
		in_step = 1;
		int r = call_step(pri, line);
		in_step = 0;
		if (r < 0)
			steps_len = 0;
	}
}

static void handle_event(struct pri *pri, pri_event *e)
{
	switch (e->e) {
	case PRI_EVENT_DCHAN_UP:
		event_line("UP", NULL);
		break;
	case PRI_EVENT_DCHAN_DOWN:
		event_line("DOWN", NULL);
		break;
	case PRI_EVENT_RING:
		current = e->ring.call;
		current_channel = e->ring.channel;
		event_line("RING", "called=%s calling=%s channel=%d name=%s complete=%d",
			   e->ring.callednum, e->ring.callingnum, bchan(e->ring.channel),
			   e->ring.callingname, e->ring.complete);
		if (answer_after >= 0)
			answer_later(pri, e->ring.call, e->ring.channel);
		break;
	case PRI_EVENT_PROCEEDING:
		if (e->proceeding.channel >= 0)
			current_channel = e->proceeding.channel;
		event_line("PROCEEDING", "channel=%d", bchan(e->proceeding.channel));
		break;
	case PRI_EVENT_PROGRESS:
		event_line("PROGRESS", NULL);
		break;
	case PRI_EVENT_SETUP_ACK:
		event_line("SETUP_ACK", "channel=%d", bchan(e->setup_ack.channel));
		break;
	case PRI_EVENT_RINGING:
		event_line("RINGING", "channel=%d", bchan(e->ringing.channel));
		break;
	case PRI_EVENT_ANSWER:
		event_line("ANSWER", "channel=%d", bchan(e->answer.channel));
		/* CONNECT ACKNOWLEDGE is sent by hand (it is enabled so that a
		 * user side sees the network's as an event): the network
		 * acknowledges the answer, which makes the call active */
		if (network_side)
			pri_connect_ack(pri, e->answer.call, 0);
		break;
	case PRI_EVENT_CONNECT_ACK:
		event_line("CONNECT_ACK", NULL);
		break;
	case PRI_EVENT_HANGUP_REQ:
		event_line("HANGUP_REQ", "cause=%d", e->hangup.cause);
		forget_answer(e->hangup.call);
		pri_hangup(pri, e->hangup.call, e->hangup.cause);
		break;
	case PRI_EVENT_HANGUP:
		event_line("HANGUP", "cause=%d", e->hangup.cause);
		pri_hangup(pri, e->hangup.call, e->hangup.cause);
		forget_answer(e->hangup.call);
		if (e->hangup.call == current)
			current = NULL;
		break;
	case PRI_EVENT_HANGUP_ACK:
		event_line("HANGUP_ACK", "cause=%d", e->hangup.cause);
		forget_answer(e->hangup.call);
		if (e->hangup.call == current)
			current = NULL;
		break;
	case PRI_EVENT_RESTART:
		event_line("RESTART", "channel=%d", bchan(e->restart.channel));
		break;
	case PRI_EVENT_RESTART_ACK:
		event_line("RESTART_ACK", "channel=%d", bchan(e->restartack.channel));
		break;
	case PRI_EVENT_INFO_RECEIVED:
		event_line("INFO", "digits=%s", e->ring.callednum);
		break;
	case PRI_EVENT_FACILITY:
		event_line("FACILITY", NULL);
		subcmd_lines(pri, e->facility.call, e->facility.subcmds);
		break;
	case PRI_EVENT_NOTIFY:
		event_line("NOTIFY", NULL);
		break;
	case PRI_EVENT_CONFIG_ERR:
		fprintf(stderr, "q931peer: configuration error: %s\n", e->err.err);
		break;
	default:
		if (debug)
			fprintf(stderr, "q931peer: event %d\n", e->e);
		break;
	}
}

/* Runs libpri for at most ms milliseconds. */
static void run_for(struct pri *pri, int ms)
{
	long long end = now_ms() + ms;
	for (;;) {
		long long left = end - now_ms();
		if (left < 0)
			left = 0;
		int timeout = (int)left;
		struct timeval *next = pri_schedule_next(pri);
		if (next) {
			struct timeval tv;
			gettimeofday(&tv, NULL);
			long long d = (long long)(next->tv_sec - tv.tv_sec) * 1000 +
				      (next->tv_usec - tv.tv_usec) / 1000;
			if (d < 0)
				d = 0;
			if (d < timeout)
				timeout = (int)d;
		}
		for (int i = 0; i < MAX_ANSWERS; i++) {
			if (answers[i].call) {
				long long d = answers[i].due - now_ms();
				if (d < 0)
					d = 0;
				if (d < timeout)
					timeout = (int)d;
			}
		}
		struct pollfd pfd[2] = {{sock, POLLIN, 0}, {in_step ? -1 : steps_fd, POLLIN, 0}};
		int r = poll(pfd, 2, timeout);
		pri_event *e = NULL;
		if (r > 0 && (pfd[0].revents & POLLIN))
			e = pri_check_event(pri);
		else if (!(r > 0 && pfd[1].fd >= 0 && (pfd[1].revents & (POLLIN | POLLHUP))))
			e = pri_schedule_run(pri);
		if (e)
			handle_event(pri, e);
		answer_due(pri);
		if (r > 0 && pfd[1].fd >= 0 && (pfd[1].revents & (POLLIN | POLLHUP)))
			read_steps(pri);
		if (now_ms() >= end)
			return;
	}
}

static int call_step(struct pri *pri, char *line)
{
	char *argv[8];
	int argc = 0;
	for (char *t = strtok(line, " \t"); t && argc < 8; t = strtok(NULL, " \t"))
		argv[argc++] = t;
	if (argc == 0)
		return 0;
	const char *cmd = argv[0];
	if (strcmp(cmd, "wait") == 0) {
		if (argc < 2)
			fatal("wait needs an event");
		int secs = argc > 2 ? atoi(argv[2]) : 10;
		long long end = now_ms() + (long long)secs * 1000;
		while (!take_pending(argv[1])) {
			if (now_ms() >= end) {
				printf("TIMEOUT waiting for %s\n", argv[1]);
				fflush(stdout);
				if (in_step)
					return -1; /* the steps pipe drops the rest */
				exit(2);
			}
			run_for(pri, 20);
		}
	} else if (strcmp(cmd, "dial") == 0) {
		if (argc < 2)
			fatal("dial needs a number");
		int complete = 1;
		if (strcmp(argv[argc - 1], "--overlap") == 0) {
			/* ETSI: without overlap dialling libpri always adds
			 * Sending complete */
			pri_set_overlapdial(pri, 1);
			complete = 0;
			argc--;
		}
		q931_call *c = pri_new_call(pri);
		struct pri_sr *sr = pri_sr_new();
		if (!c || !sr)
			fatal("dial: out of memory");
		pri_sr_set_channel(sr, 0, 0, 0);
		pri_sr_set_bearer(sr, PRI_TRANS_CAP_SPEECH, PRI_LAYER_1_ALAW);
		pri_sr_set_called(sr, strcmp(argv[1], "-") == 0 ? "" : argv[1], PRI_UNKNOWN, complete);
		pri_sr_set_caller(sr, argc > 2 ? argv[2] : "", argc > 3 ? argv[3] : NULL, PRI_UNKNOWN,
				  PRES_ALLOWED_USER_NUMBER_NOT_SCREENED);
		if (pri_setup(pri, c, sr))
			fprintf(stderr, "q931peer: SETUP refused by libpri\n");
		pri_sr_free(sr);
		current = c;
		current_channel = -1;
	} else if (strcmp(cmd, "proceeding") == 0 || strcmp(cmd, "alerting") == 0 ||
		   strcmp(cmd, "answer") == 0) {
		if (!current) {
			fprintf(stderr, "q931peer: %s without a call\n", cmd);
			return 0;
		}
		int ch = current_channel < 0 ? 0 : current_channel;
		if (cmd[0] == 'p')
			pri_proceeding(pri, current, ch, 0);
		else if (cmd[0] == 'a' && cmd[1] == 'l')
			pri_acknowledge(pri, current, ch, 0);
		else
			pri_answer(pri, current, ch, 0);
	} else if (strcmp(cmd, "info") == 0 || strcmp(cmd, "keypad") == 0) {
		if (argc < 2 || !current) {
			fprintf(stderr, "q931peer: %s needs digits and a call\n", cmd);
			return 0;
		}
		if (cmd[0] == 'k')
			pri_keypad_facility(pri, current, argv[1]);
		else
			for (const char *d = argv[1]; *d; d++)
				pri_information(pri, current, *d);
	} else if (strcmp(cmd, "hangup") == 0) {
		if (current)
			pri_hangup(pri, current, argc > 1 ? atoi(argv[1]) : 16);
		else
			fprintf(stderr, "q931peer: hangup without a call\n");
	} else if (strcmp(cmd, "reject") == 0) {
		if (argc < 2)
			fatal("reject needs a cause");
		/* libpri clears a call it has not acknowledged yet with RELEASE
		 * COMPLETE. */
		if (current) {
			pri_hangup(pri, current, atoi(argv[1]));
			current = NULL;
		} else {
			fprintf(stderr, "q931peer: reject without a call\n");
		}
	} else if (strcmp(cmd, "restart") == 0) {
		pri_reset(pri, argc > 1 ? atoi(argv[1]) : 1);
	} else if (strcmp(cmd, "restart_all") == 0) {
		unsigned char f[16];
		int n = 0;
		f[n++] = network_side ? 0x02 : 0x00;	/* SAPI 0, C/R of a command */
		f[n++] = (unsigned char)((line_ptmp ? 127 : 0) << 1 | 1);
		f[n++] = 0x03;				/* UI */
		f[n++] = 0x08;
		f[n++] = line_e1 ? 2 : 1;		/* the global call reference */
		f[n++] = 0;
		if (line_e1)
			f[n++] = 0;
		f[n++] = 0x46;				/* RESTART */
		f[n++] = 0x79;
		f[n++] = 1;
		f[n++] = 0x87;				/* all interfaces */
		if (sendto(sock, f, (size_t)n, 0, (struct sockaddr *)&peer_addr, sizeof peer_addr) < 0)
			fprintf(stderr, "q931peer: send: %s\n", strerror(errno));
	} else if (strcmp(cmd, "dummy_facility") == 0) {
		unsigned char f[300];
		int n = 0;
		size_t hex = argc > 1 ? strlen(argv[1]) : 0;
		if (hex == 0 || hex % 2 || hex / 2 > 255) {
			fprintf(stderr, "q931peer: dummy_facility needs 1..255 octets in hex\n");
			return 0;
		}
		f[n++] = network_side ? 0x02 : 0x00;
		f[n++] = (unsigned char)((line_ptmp ? 127 : 0) << 1 | 1);
		f[n++] = 0x03;				/* UI */
		f[n++] = 0x08;
		f[n++] = 0x00;				/* the dummy call reference */
		f[n++] = 0x62;				/* FACILITY */
		f[n++] = 0x1c;
		f[n++] = (unsigned char)(hex / 2);
		for (size_t i = 0; i < hex; i += 2) {
			unsigned int v;
			if (sscanf(argv[1] + i, "%2x", &v) != 1) {
				fprintf(stderr, "q931peer: dummy_facility: not hex\n");
				return 0;
			}
			f[n++] = (unsigned char)v;
		}
		if (sendto(sock, f, (size_t)n, 0, (struct sockaddr *)&peer_addr, sizeof peer_addr) < 0)
			fprintf(stderr, "q931peer: send: %s\n", strerror(errno));
	} else if (strcmp(cmd, "waitfile") == 0) {
		if (argc < 2)
			fatal("waitfile needs a path");
		int secs = argc > 2 ? atoi(argv[2]) : 10;
		long long end = now_ms() + (long long)secs * 1000;
		while (access(argv[1], F_OK) != 0) {
			if (now_ms() >= end) {
				printf("TIMEOUT waiting for %s\n", argv[1]);
				fflush(stdout);
				if (in_step)
					return -1; /* the steps pipe drops the rest */
				exit(2);
			}
			run_for(pri, 20);
		}
	} else if (strcmp(cmd, "reroute") == 0) {
		if (argc < 2 || !current) {
			fprintf(stderr, "q931peer: reroute needs a number and a call\n");
			return 0;
		}
		struct pri_party_redirecting d;
		memset(&d, 0, sizeof d);
		d.to.number.valid = 1;
		d.to.number.presentation = PRES_ALLOWED_USER_NUMBER_NOT_SCREENED;
		d.to.number.plan = PRI_UNKNOWN;
		snprintf(d.to.number.str, sizeof d.to.number.str, "%s", argv[1]);
		d.reason = PRI_REDIR_DEFLECTION;
		d.count = 1;
		if (pri_reroute_call(pri, current, NULL, &d, 2))
			fprintf(stderr, "q931peer: reroute refused by libpri\n");
	} else if (strcmp(cmd, "aoc-d") == 0) {
		if (argc < 3 || !current || (strcmp(argv[1], "units") != 0 && strcmp(argv[1], "currency") != 0) ||
		    (strcmp(argv[1], "currency") == 0 && argc < 4)) {
			fprintf(stderr, "q931peer: aoc-d units N | aoc-d currency CUR AMOUNT, with a call\n");
			return 0;
		}
		struct pri_subcmd_aoc_d d;
		memset(&d, 0, sizeof d);
		d.billing_accumulation = 1; /* total */
		d.billing_id = PRI_AOC_D_BILLING_ID_NORMAL;
		if (argv[1][0] == 'u') {
			d.charge = PRI_AOC_DE_CHARGE_UNITS;
			d.recorded.unit.num_items = 1;
			d.recorded.unit.item[0].number = atol(argv[2]);
			d.recorded.unit.item[0].type = -1;
		} else {
			d.charge = PRI_AOC_DE_CHARGE_CURRENCY;
			snprintf(d.recorded.money.currency, sizeof d.recorded.money.currency, "%s", argv[2]);
			d.recorded.money.amount.cost = atol(argv[3]);
			d.recorded.money.amount.multiplier = PRI_AOC_MULTIPLIER_ONE;
		}
		if (pri_aoc_d_send(pri, current, &d))
			fprintf(stderr, "q931peer: aoc-d refused by libpri\n");
	} else if (strcmp(cmd, "sleep") == 0) {
		run_for(pri, argc > 1 ? atoi(argv[1]) : 0);
	} else if (strcmp(cmd, "exit") == 0) {
		run_for(pri, 50);
		exit(argc > 1 ? atoi(argv[1]) : 0);
	} else {
		fatal("unknown step: %s", cmd);
	}
	return 0;
}

static void add_step(const char *s)
{
	if (nsteps >= MAX_STEPS)
		fatal("too many steps");
	steps[nsteps] = strdup(s);
	if (!steps[nsteps])
		fatal("out of memory");
	/* a step that begins with '#' is a comment ("info #" dials a '#') */
	if (steps[nsteps][strspn(steps[nsteps], " \t")] == '#')
		steps[nsteps][0] = 0;
	steps[nsteps][strcspn(steps[nsteps], "\r\n")] = 0;
	nsteps++;
}

static void usage(void)
{
	fatal("usage: q931peer --role network|user --line ptp|ptmp|e1 [--switch etsi|qsig] "
	      "--local PORT --peer PORT [--script FILE] [-e STEP]... [--debug] "
	      "[--answer-after MS] [--steps FIFO] [--reject-reroute] [--t200 MS]");
}

int main(int argc, char **argv)
{
	const char *role = NULL, *line = NULL, *sw = "etsi", *script = NULL, *steps_path = NULL;
	int local = 0, peer = 0, t200 = 0;
	for (int i = 1; i < argc; i++) {
		const char *a = argv[i];
		const char *v = i + 1 < argc ? argv[i + 1] : NULL;
		if (!strcmp(a, "--debug")) {
			debug = 1;
			continue;
		}
		if (!strcmp(a, "--reject-reroute")) {
			reject_reroute = 1;
			continue;
		}
		if (!v)
			usage();
		if (!strcmp(a, "--role"))
			role = v;
		else if (!strcmp(a, "--line"))
			line = v;
		else if (!strcmp(a, "--switch"))
			sw = v;
		else if (!strcmp(a, "--local"))
			local = atoi(v);
		else if (!strcmp(a, "--peer"))
			peer = atoi(v);
		else if (!strcmp(a, "--script"))
			script = v;
		else if (!strcmp(a, "-e"))
			add_step(v);
		else if (!strcmp(a, "--answer-after"))
			answer_after = atoi(v);
		else if (!strcmp(a, "--steps"))
			steps_path = v;
		else if (!strcmp(a, "--t200"))
			t200 = atoi(v);
		else
			usage();
		i++;
	}
	if (!role || !line || local <= 0 || local > 65535 || peer <= 0 || peer > 65535)
		usage();
	int nodetype = !strcmp(role, "network") ? PRI_NETWORK : !strcmp(role, "user") ? PRI_CPE : -1;
	int switchtype = !strcmp(sw, "qsig") ? PRI_SWITCH_QSIG : !strcmp(sw, "etsi") ? PRI_SWITCH_EUROISDN_E1 : -1;
	if (nodetype < 0 || switchtype < 0)
		usage();
	network_side = nodetype == PRI_NETWORK;
	line_e1 = !strcmp(line, "e1");
	line_ptmp = !strcmp(line, "ptmp");
	if (script) {
		FILE *f = fopen(script, "r");
		if (!f)
			fatal("q931peer: %s: %s", script, strerror(errno));
		char buf[512];
		while (fgets(buf, sizeof buf, f))
			add_step(buf);
		fclose(f);
	}

	/* libpri draws TEI request numbers from rand(): differ between terminals.
	 * Pid and time alone can give two terminals started together the same
	 * seed (and so the same TEI); their local ports always differ. */
	unsigned seed = (unsigned)getpid() * 2654435761u ^ (unsigned)local * 40503u ^ (unsigned)now_ms();
	srand(seed);
	srandom(seed);
	sock = socket(AF_INET, SOCK_DGRAM, 0);
	if (sock < 0)
		fatal("q931peer: socket: %s", strerror(errno));
	struct sockaddr_in a;
	memset(&a, 0, sizeof a);
	a.sin_family = AF_INET;
	a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	a.sin_port = htons((unsigned short)local);
	if (bind(sock, (struct sockaddr *)&a, sizeof a) < 0)
		fatal("q931peer: bind %d: %s", local, strerror(errno));
	peer_addr = a;
	peer_addr.sin_port = htons((unsigned short)peer);

	if (steps_path) {
		/* read and write, so the pipe never reports the end when a
		 * writer closes it */
		unlink(steps_path);
		if (mkfifo(steps_path, 0600) < 0)
			fatal("q931peer: mkfifo %s: %s", steps_path, strerror(errno));
		steps_fd = open(steps_path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
		if (steps_fd < 0)
			fatal("q931peer: %s: %s", steps_path, strerror(errno));
	}

	pri_set_message(pri_msg);
	pri_set_error(pri_err);
	struct pri *pri = NULL;
	if (!strcmp(line, "e1"))
		pri = pri_new_cb(sock, nodetype, switchtype, io_read, io_write, NULL);
	else if (!strcmp(line, "ptp") || !strcmp(line, "ptmp"))
		pri = pri_new_bri_cb(sock, !strcmp(line, "ptp"), nodetype, switchtype, io_read, io_write, NULL);
	else
		usage();
	if (!pri)
		fatal("q931peer: libpri refused the line set-up");
	if (t200 > 0)
		pri_set_timer(pri, PRI_TIMER_T200, t200);
	pri_connect_ack_enable(pri, 1);
	pri_facility_enable(pri);
	pri_aoc_events_enable(pri, 1);
	pri_reroute_enable(pri, 1);
	pri_mcid_enable(pri, 1);
	if (debug)
		pri_set_debug(pri, PRI_DEBUG_Q921_STATE | PRI_DEBUG_Q931_STATE | PRI_DEBUG_Q931_DUMP |
				       PRI_DEBUG_Q921_DUMP | PRI_DEBUG_Q931_ANOMALY);
	setvbuf(stdout, NULL, _IOLBF, 0);
	printf("READY\n");

	for (int i = 0; i < nsteps; i++)
		call_step(pri, steps[i]);
	printf("SCRIPT DONE\n");
	fflush(stdout);
	for (;;)
		run_for(pri, 1000);
}
