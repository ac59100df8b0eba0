#!/usr/bin/env python3
"""Lets Zabbix 6.0 find Quorvane agents by itself: creates (or updates) a network discovery rule
that tries TCP port 5782 on every address of a range, and a discovery action that adds each
address that answers as a host, puts it into a host group, sets its inventory to automatic and
links the template "Quorvane agent by HTTP" (import quorvane_agent.yaml first).

Python's standard library only; talks to the frontend's JSON-RPC API. The rule and the action are
found again by name, so running the script once more changes them instead of adding others.

  quorvane-discovery.py --url https://zabbix.example.org/api_jsonrpc.php --user Admin \\
      --range 192.0.2.1-254 [--range 198.51.100.0/24] [--delay 1h] [--group "Quorvane agents"]

The password is read from ZABBIX_PASSWORD, or asked for; an API token may be given instead with
ZABBIX_API_TOKEN. The zabbix_server needs StartDiscoverers of 1 or more for the rule to run.
"""

import argparse
import getpass
import json
import os
import sys
import urllib.error
import urllib.request

TEMPLATE = "Quorvane agent by HTTP"

# Values of the 6.0 API.
CHECK_TCP = 8
HOST_SOURCE = {"dns": 1, "ip": 2}
NAME_SOURCE = {"dns": 1, "ip": 2}
EVENTSOURCE_DISCOVERY = 1
CONDITION_DISCOVERY_RULE = 18
CONDITION_DISCOVERY_STATUS = 10
CONDITION_SERVICE_PORT = 9
STATUS_UP = "0"
OPERATION_ADD_HOST = 2
OPERATION_ADD_TO_GROUP = 4
OPERATION_LINK_TEMPLATE = 6
OPERATION_INVENTORY_MODE = 10
INVENTORY_AUTOMATIC = 1


class ApiError(Exception):
    pass


class Api:
    def __init__(self, url, timeout):
        self.url = url
        self.timeout = timeout
        self.auth = None
        self.token = None
        self.next_id = 1

    def call(self, method, params):
        request = {"jsonrpc": "2.0", "method": method, "params": params, "id": self.next_id}
        self.next_id += 1
        headers = {"Content-Type": "application/json-rpc"}
        if self.token:
            headers["Authorization"] = "Bearer " + self.token
        elif self.auth and method not in ("apiinfo.version", "user.login"):
            request["auth"] = self.auth
        data = json.dumps(request).encode("utf-8")
        try:
            with urllib.request.urlopen(
                urllib.request.Request(self.url, data=data, headers=headers), timeout=self.timeout
            ) as response:
                answer = json.loads(response.read().decode("utf-8"))
        except (urllib.error.URLError, OSError, ValueError) as error:
            raise ApiError(f"{method}: no answer from {self.url}: {error}") from error
        if "error" in answer:
            error = answer["error"]
            raise ApiError(f"{method}: {error.get('message')} {error.get('data', '')}".strip())
        return answer["result"]

    def login(self, user, password, token):
        if token:
            self.token = token
            # The 6.0 frontend also takes the token as "auth"; a header alone needs 6.4.
            self.auth = token
            return
        try:
            self.auth = self.call("user.login", {"username": user, "password": password})
        except ApiError:
            # Before 5.4 the parameter was "user".
            self.auth = self.call("user.login", {"user": user, "password": password})


def ensure_group(api, name):
    found = api.call("hostgroup.get", {"filter": {"name": [name]}, "output": ["groupid"]})
    if found:
        return found[0]["groupid"]
    return api.call("hostgroup.create", {"name": name})["groupids"][0]


def template_id(api):
    found = api.call("template.get", {"filter": {"host": [TEMPLATE]}, "output": ["templateid"]})
    if not found:
        raise ApiError(f'the template "{TEMPLATE}" is missing: import quorvane_agent.yaml first')
    return found[0]["templateid"]


def ensure_rule(api, args):
    rule = {
        "name": args.name,
        "iprange": ",".join(args.range),
        "delay": args.delay,
        "status": 0,
        "dchecks": [
            {
                "type": CHECK_TCP,
                "ports": str(args.port),
                "uniq": 0,
                "host_source": HOST_SOURCE[args.names],
                "name_source": NAME_SOURCE[args.names],
            }
        ],
    }
    found = api.call("drule.get", {"filter": {"name": [args.name]}, "output": ["druleid"]})
    if found:
        rule["druleid"] = found[0]["druleid"]
        api.call("drule.update", rule)
        return rule["druleid"], "updated"
    return api.call("drule.create", rule)["druleids"][0], "created"


def ensure_action(api, args, rule_id, group_id, template):
    action = {
        "name": args.name,
        "status": 0,
        "filter": {
            "evaltype": 0,
            "conditions": [
                {"conditiontype": CONDITION_DISCOVERY_RULE, "operator": 0, "value": rule_id},
                {"conditiontype": CONDITION_DISCOVERY_STATUS, "operator": 0, "value": STATUS_UP},
                {"conditiontype": CONDITION_SERVICE_PORT, "operator": 0, "value": str(args.port)},
            ],
        },
        "operations": [
            {"operationtype": OPERATION_ADD_HOST},
            {"operationtype": OPERATION_ADD_TO_GROUP, "opgroup": [{"groupid": group_id}]},
            {"operationtype": OPERATION_LINK_TEMPLATE, "optemplate": [{"templateid": template}]},
            {
                "operationtype": OPERATION_INVENTORY_MODE,
                "opinventory": {"inventory_mode": INVENTORY_AUTOMATIC},
            },
        ],
    }
    found = api.call(
        "action.get",
        {"filter": {"name": [args.name], "eventsource": EVENTSOURCE_DISCOVERY}, "output": ["actionid"]},
    )
    if found:
        action["actionid"] = found[0]["actionid"]
        api.call("action.update", action)
        return action["actionid"], "updated"
    action["eventsource"] = EVENTSOURCE_DISCOVERY
    return api.call("action.create", action)["actionids"][0], "created"


def main():
    parser = argparse.ArgumentParser(
        description="Create a Zabbix network discovery rule and action for Quorvane agents."
    )
    parser.add_argument("--url", required=True, help="the frontend's api_jsonrpc.php")
    parser.add_argument("--user", default="Admin", help="API user (default Admin)")
    parser.add_argument(
        "--range",
        action="append",
        required=True,
        help="addresses to try, as Zabbix writes them: 192.0.2.1-254 or 192.0.2.0/24 (repeatable)",
    )
    parser.add_argument("--port", type=int, default=5782, help="the agents' port (default 5782)")
    parser.add_argument("--delay", default="1h", help="how often the range is tried (default 1h)")
    parser.add_argument(
        "--group", default="Quorvane agents", help='host group of the hosts found (default "Quorvane agents")'
    )
    parser.add_argument(
        "--name", default="Quorvane agents", help="name of the rule and the action (default: the group's)"
    )
    parser.add_argument(
        "--names",
        choices=["dns", "ip"],
        default="dns",
        help="host names from reverse DNS, the address when there is none (dns, default), or the address (ip)",
    )
    parser.add_argument("--timeout", type=float, default=30, help="seconds per API call (default 30)")
    args = parser.parse_args()
    if not 1 <= args.port <= 65535:
        parser.error("--port takes 1 to 65535")

    api = Api(args.url, args.timeout)
    try:
        version = api.call("apiinfo.version", {})
        token = os.environ.get("ZABBIX_API_TOKEN", "")
        password = ""
        if not token:
            password = os.environ.get("ZABBIX_PASSWORD") or getpass.getpass(f"Password of {args.user}: ")
        api.login(args.user, password, token)
        group = ensure_group(api, args.group)
        template = template_id(api)
        rule, rule_done = ensure_rule(api, args)
        action, action_done = ensure_action(api, args, rule, group, template)
    except ApiError as error:
        print(f"quorvane-discovery: {error}", file=sys.stderr)
        return 1
    print(
        f'Zabbix {version}: discovery rule "{args.name}" {rule_done} (id {rule}, '
        f'{",".join(args.range)}, TCP {args.port}, every {args.delay}); action {action_done} '
        f'(id {action}): each agent found becomes a host in "{args.group}" linked to "{TEMPLATE}".'
    )
    return 0


if __name__ == "__main__":
    sys.exit(main())
