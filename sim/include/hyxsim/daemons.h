/*
 * The sandbox's simulated daemons (hyxsim --daemons): the observation
 * daemon on the host's observation socket, the SNMP agent on the host's
 * control socket and the management daemon on the host's loopback port.
 * Each appends one JSON object per line, written whole with
 * one write, to its record file inside the sandbox.
 *
 * Observation daemon, one line per message received:
 *   {"connection": n, "length": L, "uptimeUs": u, "argCount": c, "idSize": s,
 *    "textSize": t, "id": "...", "text": "...",
 *    "args": [{"type": 6, "offset": 96, "value": "..."}, {"type": 1, "value": 5}, ...],
 *    "message": "the text rendered with its arguments"}
 *   or {"connection": n, "error": "why the bytes are not a message"} (the
 *   connection is then dropped).  "connection" counts accepted connections
 *   from 1, so messages that shared one connection share its number.
 *   Faults by signal: SIGUSR1 makes it stop reading and accepting (writers'
 *   queues fill and their sends wait), a second SIGUSR1 resumes; SIGUSR2
 *   closes every open connection mid-stream: what the writer had put on it
 *   is still taken, a cut message is recorded as an error, and the writer's
 *   next send fails.  SIGTERM does the same to every connection after the
 *   socket's name is removed and new connections are refused, then it ends.
 * SNMP agent, one line per trap file consumed after a control byte "N":
 *   {"file": "name.trp", "mode": "0600", "enterpriseOid": "1.3.6.1.4.1...",
 *    "generic": 6, "specific": 7,
 *    "bindings": [{"oid": "...", "type": "4", "value": "..."}], "lines": [...]}
 *   or {"file": ..., "error": "..."}; every *.trp file is removed once read
 *   (a file whose name is taken by something other than a regular file is
 *   recorded and left alone).
 * Management daemon, on the host's loopback port, one line per HTTP request:
 *   {"connection": n, "requestLine": "POST /sdk HTTP/1.1", "headers": {...},
 *    "body": "...", "declaration": {...}, "envelope": {attributes},
 *    "envelopeAttributeOrder": [names as written],
 *    "method": "PostEvent", "xsiNs": uri, "xsdNs": uri,
 *    "call": {"name", "ns", "attributes", "attributeOrder": [names as
 *    written], "text", "children": [...]},
 *    "event": {"eventTypeId", "severity", "createdTime", "userName", "key",
 *              "chainId", "arguments": [{"key", "value"}, ...]} (PostEvent),
 *    "session": cookie session, "fault": why (when answered with a fault),
 *    "faultMode": mode}, or {..., "error": why} for a request it could not
 *   read.  Faults per method: lines "METHOD MODE [ARG]" (METHOD may be "*")
 *   in HYXSIM_MGMTD_FAULTS, read at every request.  Modes: fault500 (a SOAP
 *   fault with status 500), no-cookie (no Set-Cookie), oversized-headers,
 *   close-mid-response, close-after (closes after answering), slow [SECONDS],
 *   silent (never answers), ticket-path PATH (names PATH as the password file),
 *   utf16 (the answer's body in UTF-16 with a byte order mark).
 */
#ifndef HYXSIM_DAEMONS_H
#define HYXSIM_DAEMONS_H

#define HYXSIM_HOBD_RECORDS "/run/hyxsim/hobd.jsonl"
#define HYXSIM_SNMP_AGENT_RECORDS "/run/hyxsim/snmp-agent.jsonl"
#define HYXSIM_MGMTD_RECORDS "/run/hyxsim/mgmtd.jsonl"
#define HYXSIM_MGMTD_FAULTS "/run/hyxsim/mgmtd-faults"
#define HYXSIM_MGMTD_TICKET_DIR "/run/hyxsim/mgmtd-tickets"

#endif /* HYXSIM_DAEMONS_H */
