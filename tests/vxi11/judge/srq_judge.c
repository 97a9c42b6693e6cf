/* A judge we did not write the RPC of: the core and interrupt channels as the distribution's
   rpcgen and libtirpc make them, driving instrument-sim: a held *OPC?, the interrupt channel,
   its request and teardown. Usage: srq_judge CORE_PORT. Prints what it checked; exit code 0
   when every check passed. */
#include "judge.h"

void device_intr_1(struct svc_req *request, SVCXPRT *transport); /* rpcgen -m's, undeclared */

static const char handle[] = "judge-42";
static int srq_heard, failures;

/* Called by the interrupt channel's dispatcher; NULL: no reply, the call is one-way. */
void *device_intr_srq_1_svc(Device_SrqParms *args, struct svc_req *request)
{
    srq_heard += args->handle.handle_len == strlen(handle) && !memcmp(args->handle.handle_val, handle, strlen(handle));
    return NULL;
}

static void check(const char *what, long got, long expected)
{
    printf("%s %s: %ld (expected %ld)\n", got == expected ? "ok  " : "FAIL", what, got, expected);
    failures += got != expected;
}

static long code(const Device_Error *error) { return error ? error->error : -1; }

/* device_write of `text` as a whole message: its error, -1 without a reply. */
static long write_text(CLIENT *core, Device_Link lid, const char *text)
{
    Device_WriteParms args = {lid, 2000, 2000, 8, {(u_int)strlen(text), (char *)text}};
    const Device_WriteResp *written = device_write_1(&args, core);
    return written ? written->error : -1;
}

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    struct sockaddr_in where = {.sin_family = AF_INET, .sin_port = htons((unsigned short)atoi(argv[1])),
                                .sin_addr.s_addr = htonl(INADDR_LOOPBACK)};
    int sock = RPC_ANYSOCK;
    CLIENT *core = clnttcp_create(&where, DEVICE_CORE, DEVICE_CORE_VERSION, &sock, 0, 0);
    Create_LinkParms link_args = {1, 0, 0, "inst0"};
    Create_LinkResp *link = core ? create_link_1(&link_args, core) : NULL;
    if (!link)
        return fprintf(stderr, "no link on the core channel\n"), 1;
    const Device_Link lid = link->lid;
    check("create_link", link->error, 0);
    check("device_write", write_text(core, lid, "ACQ:TIME 300;INIT;*OPC?\n"), 0);
    Device_ReadParms read = {lid, 100, 5000, 2000, 0, 0};
    const time_t asked = time(NULL);
    const Device_ReadResp *held = device_read_1(&read, core);
    check("*OPC? answered as the acquisition ends, not at the read's io_timeout",
          held && held->data.data_len == 2 && time(NULL) - asked <= 2, 1);

    /* The interrupt channel: a TCP server on a free port, not registered with a portmapper. */
    SVCXPRT *intr = svctcp_create(RPC_ANYSOCK, 0, 0);
    if (!intr || !svc_register(intr, DEVICE_INTR, DEVICE_INTR_VERSION, device_intr_1, 0))
        return fprintf(stderr, "the interrupt channel cannot be served\n"), 1;
    Device_RemoteFunc channel = {INADDR_LOOPBACK, intr->xp_port, DEVICE_INTR, DEVICE_INTR_VERSION, DEVICE_UDP};
    check("create_intr_chan over UDP: operation not supported", code(create_intr_chan_1(&channel, core)), 8);
    channel.progFamily = DEVICE_TCP;
    check("create_intr_chan", code(create_intr_chan_1(&channel, core)), 0);
    Device_EnableSrqParms enable = {lid, 1, {(u_int)strlen(handle), (char *)handle}};
    check("device_enable_srq", code(device_enable_srq_1(&enable, core)), 0);
    check("device_write", write_text(core, lid, "*CLS;*ESE 1;*SRE 32;ACQ:TIME 200;INIT;*OPC\n"), 0);
    serve(&srq_heard, time(NULL) + 5); /* the interrupt channel, until the call comes */
    check("device_intr_srq with the handle, once the acquisition ended", srq_heard, 1);
    Device_GenericParms generic = {lid, 0, 2000, 2000};
    Device_ReadStbResp *status = device_readstb_1(&generic, core);
    check("device_readstb: RQS and ESB", status ? status->stb & 0x60 : -1, 0x60);
    status = device_readstb_1(&generic, core);
    check("device_readstb again: RQS cleared", status ? status->stb & 0x40 : -1, 0);

    enable.enable = 0;
    check("device_enable_srq false", code(device_enable_srq_1(&enable, core)), 0);
    srq_heard = 0;
    check("device_write", write_text(core, lid, "*ESR?;*OPC\n"), 0); /* a request, were they enabled */
    serve(&srq_heard, time(NULL) + 2);
    check("no device_intr_srq while disabled", srq_heard, 0);
    check("destroy_intr_chan", code(destroy_intr_chan_1(NULL, core)), 0);
    check("destroy_link", code(destroy_link_1((Device_Link *)&lid, core)), 0);
    return failures ? 1 : 0;
}
