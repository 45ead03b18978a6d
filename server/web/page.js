// The control page of the ORN312 service: asks for the PIN, then shows the processor's state as
// the service's event stream tells it and sends the operator's presses to the API. Each press
// shows that it is under way until the API answers, and says so when it failed.
"use strict";

(function () {
  // The window's captions where it has them; the page's own texts besides.
  const TEXTS = {
    en: {
      title: "QUOLAN ORN312 Processor Controller(V1.13)",
      language: "CH/EN",
      logout: "Log out",
      loginTitle: "Log in",
      pin: "PIN",
      login: "Log in",
      loggingIn: "Checking the PIN…",
      wrongPin: "Wrong PIN",
      lockedOut: (s) => "Too many wrong PINs from this address: try again in " + s + " s",
      noAnswer: "The service does not answer",
      viewerNote: "Viewer: you can watch, not change anything.",
      source: "Source",
      transition: "Cut/Fade",
      switchMode: "Switch Mode",
      oneKey: "One Key Switch",
      preTake: "Pre + TAKE Switch",
      function: "Function",
      timer: "Timer",
      status: "Status:",
      nextTimer: "Next Timer",
      currentTimer: "Current Timer",
      time: "Time:",
      signal: "Signal:",
      result: "Result:",
      start: "Start",
      stop: "Stop",
      info: "Info",
      deviceId: "Device_ID",
      running: "Running",
      stopped: "Stopped",
      noExecution: "No Execution",
      sent: (clock) => "Sent " + clock,
      missed: "Missed",
      failed: "Failed: not sent",
      onAir: "On air",
      pre: "Pre",
      preview: (name) => "Pre: " + name,
      previewEmpty: "Pre: NULL",
      lamp: (name) => name + " lamp",
      lampSignal: "signal",
      lampNoSignal: "no signal",
      lampOff: "off",
      on: "on",
      off: "off",
      linkConnected: "Communications equipment normal",
      linkConnecting: "Connecting device,please waiting",
      linkLost: "Connection lost, connecting again",
      linkClosed: "Disconnected from the device",
      alarm: "Alarm",
      notResponding: "Device not responding, check the device and the cable",
      noSignalOnAir: (name) => "No signal on " + name + ", which is on air",
      liveOk: "Live",
      liveLost: "Live updates interrupted: reconnecting…",
      pending: (what) => what + ": sending…",
      sending: "Sending…",
      failedShort: "Failed",
      done: (what) => what + ": sent",
      failedPress: (what, why) => what + " failed: " + why,
      sessionOver: "The session ended: log in again",
    },
    zh: {
      title: "QUOLANORN312控制软件(V1.13)",
      language: "中文/英文",
      logout: "退出登录",
      loginTitle: "登录",
      pin: "PIN 码",
      login: "登录",
      loggingIn: "正在核对 PIN 码…",
      wrongPin: "PIN 码错误",
      lockedOut: (s) => "此地址输错 PIN 码次数过多：请在 " + s + " 秒后重试",
      noAnswer: "服务无应答",
      viewerNote: "观看者：只能查看，不能更改。",
      source: "信号",
      transition: "切换效果",
      switchMode: "切换模式",
      oneKey: "一键直接切换",
      preTake: "预选+TAKE切换",
      function: "功能",
      timer: "定时器",
      status: "状态:",
      nextTimer: "下一个定时",
      currentTimer: "当前定时",
      time: "时间:",
      signal: "信号:",
      result: "结果:",
      start: "启动定时",
      stop: "停止定时",
      info: "信息",
      deviceId: "设备ID",
      running: "运行中",
      stopped: "已停止",
      noExecution: "未执行",
      sent: (clock) => "已发送 " + clock,
      missed: "已错过",
      failed: "失败：未发出",
      onAir: "输出中",
      pre: "预选",
      preview: (name) => "预选:\t" + name,
      previewEmpty: "预选: 空",
      lamp: (name) => name + " 指示灯",
      lampSignal: "有信号",
      lampNoSignal: "无信号",
      lampOff: "熄灭",
      on: "开",
      off: "关",
      linkConnected: "设备连接成功",
      linkConnecting: "正在连接设备，请等侯",
      linkLost: "连接已断开，正在重新连接",
      linkClosed: "已断开与设备的连接",
      alarm: "警报",
      notResponding: "设备无响应，请检查设备和连接",
      noSignalOnAir: (name) => "当前输出的 " + name + " 无信号",
      liveOk: "实时",
      liveLost: "实时更新中断：正在重新连接…",
      pending: (what) => what + "：正在发送…",
      sending: "发送中…",
      failedShort: "失败",
      done: (what) => what + "：已发送",
      failedPress: (what, why) => what + " 失败：" + why,
      sessionOver: "会话已结束：请重新登录",
    },
  };

  // The window's source buttons, in its order; "V2" is captioned "YPbPr" while V2 carries YPbPr.
  const SOURCES = ["V1", "V2", "VGA1", "VGA2", "HDMI", "DVI", "DP", "EXT."];
  const TRANSITIONS = [["cut", "Cut"], ["0.5", "0.5S"], ["1.0", "1.0S"], ["1.5", "1.5S"]];
  const MODES = [["one key", "oneKey"], ["pre+take", "preTake"]];
  const FUNCTIONS = [["PIP", "PIP/PBP"], ["TEXT", "TEXT"], ["FREEZE", "FREEZE"]];

  const page = {
    lang: "en",
    role: null,        // "operator" or "viewer" once logged in
    state: null,       // the last state the service told
    transition: null,  // the transition the next switch takes
    events: null,      // the EventSource
    live: false,
    retryMs: 1000,
    retryTimer: 0,
    lockTimer: 0,
    info: null,        // {kind, text(lang)} of the Info line
  };

  const $ = (id) => document.getElementById(id);
  const t = (key, ...args) => {
    const text = TEXTS[page.lang][key];
    return typeof text === "function" ? text(...args) : text;
  };

  function make(tag, props, children) {
    const node = document.createElement(tag);
    for (const [key, value] of Object.entries(props || {})) {
      if (key === "class") node.className = value;
      else if (key === "text") node.textContent = value;
      else node.setAttribute(key, value);
    }
    for (const child of children || []) node.appendChild(child);
    return node;
  }

  // ---- the controls ------------------------------------------------------------------------

  const controls = { sources: {}, transitions: {}, modes: {}, functions: {} };

  function buildControls() {
    for (const name of SOURCES) {
      const lamp = make("span", { class: "lamp", role: "img" });
      const label = make("span", { class: "source-name", text: name });
      const badge = make("span", { class: "badge" });
      const button = make("button", { type: "button", class: "control source" },
        [label, badge]);
      button.addEventListener("click", () => pressSource(name));
      const tile = make("div", { class: "tile" }, [lamp, button]);
      $("sources").appendChild(tile);
      controls.sources[name] = { tile, lamp, label, badge, button };
    }
    for (const [value, caption] of TRANSITIONS) {
      const button = make("button", { type: "button", class: "control choice", role: "radio",
        "aria-checked": "false", text: caption });
      button.addEventListener("click", () => chooseTransition(value));
      $("transitions").appendChild(button);
      controls.transitions[value] = button;
    }
    for (const [value, key] of MODES) {
      const button = make("button", { type: "button", class: "control choice", role: "radio",
        "aria-checked": "false", "data-t": key });
      button.addEventListener("click", () => pressMode(value));
      $("modes").appendChild(button);
      controls.modes[value] = button;
    }
    for (const [name, caption] of FUNCTIONS) {
      const lamp = make("span", { class: "lamp", role: "img" });
      const button = make("button", { type: "button", class: "control function",
        "aria-pressed": "false", text: caption });
      button.addEventListener("click", () => pressFunction(name, caption));
      const tile = make("div", { class: "tile" }, [lamp, button]);
      $("functions").appendChild(tile);
      controls.functions[name] = { lamp, button, caption };
    }
    $("take").addEventListener("click", () =>
      press($("take"), "TAKE", "take", page.transition ? { transition: page.transition } : {}));
    $("timer-start").addEventListener("click", () =>
      press($("timer-start"), t("start"), "timer", { run: true }));
    $("timer-stop").addEventListener("click", () =>
      press($("timer-stop"), t("stop"), "timer", { run: false }));
    // Radio groups move with the arrow keys, as radios do.
    for (const group of [$("transitions"), $("modes")]) {
      group.addEventListener("keydown", (e) => {
        const keys = { ArrowRight: 1, ArrowDown: 1, ArrowLeft: -1, ArrowUp: -1 };
        if (!(e.key in keys)) return;
        const buttons = Array.from(group.querySelectorAll("button"));
        const at = buttons.indexOf(document.activeElement);
        if (at < 0) return;
        e.preventDefault();
        const next = buttons[(at + keys[e.key] + buttons.length) % buttons.length];
        next.focus();
        next.click();
      });
    }
  }

  // ---- presses -----------------------------------------------------------------------------

  // Sends one press and shows it under way on its control until the API answers.
  async function press(button, what, path, body) {
    if (page.role !== "operator" || button.disabled) return;
    button.classList.add("pending");
    button.setAttribute("aria-busy", "true");
    clearFailed();
    setInfo("pending", () => t("pending", what));
    render();
    try {
      const response = await api("POST", "/api/v1/" + path, body);
      if (response.status === 401) return;
      const answer = await response.json().catch(() => ({}));
      if (response.ok) {
        setInfo("ok", () => t("done", what));
        if (response.status === 200 && path === "timer" && page.state) {
          page.state.timer.running = !!answer.running;
          render();
        }
      } else {
        if (response.status === 403) setRole("viewer");
        const why = answer.error || response.status + " " + response.statusText;
        button.classList.add("failed");
        setInfo("error", () => t("failedPress", what, why));
      }
    } catch (e) {
      button.classList.add("failed");
      setInfo("error", () => t("failedPress", what, t("noAnswer")));
    } finally {
      button.classList.remove("pending");
      button.removeAttribute("aria-busy");
      render();
    }
  }

  function clearFailed() {
    for (const failed of document.querySelectorAll("button.failed")) {
      failed.classList.remove("failed");
    }
  }

  function pressSource(name) {
    const control = controls.sources[name];
    const source = control.label.textContent;  // "YPbPr" while V2 carries it
    if (isPreTake(page.state)) {
      press(control.button, source, "pre", { source });
    } else {
      const body = { source };
      if (page.transition) body.transition = page.transition;
      press(control.button, source, "switch", body);
    }
  }

  function pressMode(mode) {
    if (page.state && (mode === "pre+take") === isPreTake(page.state)) return;
    press(controls.modes[mode], t(mode === "pre+take" ? "preTake" : "oneKey"), "mode", { mode });
  }

  function pressFunction(name, caption) {
    const on = !!(page.state && page.state.overlay && page.state.overlay[name]);
    press(controls.functions[name].button, caption, "overlay", { name, on: !on });
  }

  function chooseTransition(value) {
    page.transition = value;
    renderTransition();
  }

  // ---- talking to the service --------------------------------------------------------------

  async function api(method, path, body) {
    const options = { method, credentials: "same-origin", headers: {} };
    if (body !== undefined) {
      options.headers["Content-Type"] = "application/json";
      options.body = JSON.stringify(body);
    }
    const response = await fetch(path, options);
    if (response.status === 401 && !path.endsWith("/login")) sessionEnded();
    return response;
  }

  // A session the browser still holds goes straight to the panel, with the role it has.
  async function start() {
    try {
      const session = await api("GET", "/api/v1/session");
      if (session.status === 401) return;
      if (!session.ok) throw new Error(session.statusText);
      loggedIn((await session.json()).role);
      const response = await api("GET", "/api/v1/state");
      if (response.ok) apply(await response.json());
    } catch (e) {
      showLogin();
      $("login-message").textContent = t("noAnswer");
    }
  }

  function loggedIn(role) {
    setRole(role);
    $("login").hidden = true;
    $("panel").hidden = false;
    $("logout").hidden = false;
    renderInfo();
    listen();
  }

  function setRole(role) {
    page.role = role;
    render();
  }

  function sessionEnded() {
    const wasIn = !$("panel").hidden;
    stopListening();
    page.state = null;
    page.role = null;
    page.transition = null;
    clearFailed();
    showLogin();
    if (wasIn) $("login-message").textContent = t("sessionOver");
  }

  function showLogin() {
    $("panel").hidden = true;
    $("logout").hidden = true;
    $("login").hidden = false;
    page.info = null;
    renderInfo();
    $("pin").focus();
  }

  async function login(event) {
    event.preventDefault();
    const pin = $("pin").value;
    const message = $("login-message");
    const button = $("login-button");
    button.disabled = true;
    button.classList.add("pending");
    message.className = "message";
    message.textContent = t("loggingIn");
    try {
      const response = await api("POST", "/api/v1/login", { pin });
      const answer = await response.json().catch(() => ({}));
      if (response.ok) {
        $("pin").value = "";
        message.textContent = "";
        loggedIn(answer.role);
        const state = await api("GET", "/api/v1/state");
        if (state.ok) apply(await state.json());
        return;
      }
      message.className = "message error";
      if (response.status === 401) {
        message.textContent = t("wrongPin");
        $("pin").select();
      } else if (response.status === 429) {
        lockedOut(Number(response.headers.get("Retry-After")) || 60, answer.error);
      } else {
        message.textContent = answer.error || response.status + " " + response.statusText;
      }
    } catch (e) {
      message.className = "message error";
      message.textContent = t("noAnswer");
    } finally {
      button.disabled = false;
      button.classList.remove("pending");
    }
  }

  // Counts the lockout down on the form; logging in is still allowed (the service answers).
  function lockedOut(seconds, error) {
    clearInterval(page.lockTimer);
    const until = Date.now() + seconds * 1000;
    const message = $("login-message");
    const show = () => {
      const left = Math.ceil((until - Date.now()) / 1000);
      if (left <= 0) {
        clearInterval(page.lockTimer);
        message.textContent = "";
        return;
      }
      message.textContent = t("lockedOut", left);
    };
    show();
    page.lockTimer = setInterval(show, 1000);
    message.dataset.error = error || "";
  }

  async function logout() {
    try {
      await api("POST", "/api/v1/logout");
    } catch (e) {
      // Forget the session here all the same.
    }
    sessionEnded();
    $("login-message").textContent = "";
  }

  // The event stream: every change of state. The browser reconnects by itself while the service
  // answers; when it gives up (the service refused the stream), the page looks at why and tries
  // again, a little later each time.
  function listen() {
    stopListening();
    const events = new EventSource("/api/v1/events");
    page.events = events;
    events.addEventListener("state", (e) => {
      page.retryMs = 1000;
      setLive(true);
      try {
        apply(JSON.parse(e.data));
      } catch (error) {
        // A torn event: the next one brings the whole state again.
      }
    });
    events.onopen = () => setLive(true);
    events.onerror = () => {
      setLive(false);
      if (events.readyState !== EventSource.CLOSED) return;
      page.retryTimer = setTimeout(async () => {
        try {
          const response = await api("GET", "/api/v1/state");
          if (response.status === 401) return;
          if (response.ok) apply(await response.json());
        } catch (error) {
          // The service is away: try again below.
        }
        page.retryMs = Math.min(page.retryMs * 2, 15000);
        if (page.role) listen();
      }, page.retryMs);
    };
  }

  function stopListening() {
    clearTimeout(page.retryTimer);
    if (page.events) page.events.close();
    page.events = null;
    setLive(false);
  }

  function setLive(live) {
    page.live = live;
    renderLive();
  }

  function apply(state) {
    if (page.transition === null && state.transition) page.transition = state.transition;
    page.state = state;
    render();
  }

  function setInfo(kind, text) {
    page.info = { kind, text };
    renderInfo();
  }

  // Pre + TAKE mode, as the state says it; a pre-selected source says so too.
  function isPreTake(state) {
    if (!state) return false;
    return "mode" in state ? state.mode === "pre+take" : state.pre != null;
  }

  // ---- the display -------------------------------------------------------------------------

  function render() {
    const state = page.state;
    const viewer = page.role !== "operator";
    const connected = !!state && state.link === "connected" && page.live;
    const overlay = (state && state.overlay) || {};
    const signals = (state && state.signals) || {};
    const preTake = isPreTake(state);
    const overlayOn = overlay.PIP || overlay.TEXT;
    document.body.classList.toggle("viewer", viewer);
    $("viewer-note").hidden = !viewer || !page.role;
    $("panel").classList.toggle("stale", !connected);

    for (const name of SOURCES) {
      const c = controls.sources[name];
      let shown = name;
      if (name === "V2" && state && (state.main === "YPbPr" || state.pre === "YPbPr")) {
        shown = "YPbPr";
      }
      c.label.textContent = shown;
      const onAir = connected && state.main === shown;
      const pre = connected && preTake && state.pre === shown;
      c.tile.classList.toggle("on-air", onAir);
      c.tile.classList.toggle("pre", pre);
      c.badge.textContent = c.button.classList.contains("pending") ? t("sending")
        : c.button.classList.contains("failed") ? t("failedShort")
        : onAir ? t("onAir") : pre ? t("pre") : "";
      if (onAir) c.button.setAttribute("aria-current", "true");
      else c.button.removeAttribute("aria-current");
      setLamp(c.lamp, shown, connected && shown in signals ? signals[shown] : null);
      c.button.disabled = viewer || !connected;
    }
    const preview = $("preview");
    preview.hidden = !(connected && preTake);
    preview.textContent = state && state.pre ? t("preview", state.pre) : t("previewEmpty");

    renderTransition();
    for (const [mode] of MODES) {
      const button = controls.modes[mode];
      button.setAttribute("aria-checked", String(connected && (mode === "pre+take") === preTake));
      button.disabled = viewer || !connected || !!overlayOn;
    }
    $("take").disabled = viewer || !connected || !preTake || !!overlayOn;

    for (const [name] of FUNCTIONS) {
      const c = controls.functions[name];
      const on = connected && !!overlay[name];
      c.button.setAttribute("aria-pressed", String(on));
      c.button.classList.toggle("on", on);
      setLamp(c.lamp, c.caption === "PIP/PBP" ? "PIP" : c.caption, on ? true : null, true);
      c.button.disabled = viewer || !connected;
    }

    renderTimer();
    renderAlarms();
    renderLive();
    $("device-id").textContent = state ? String(state.device_id) : "";
  }

  // A lamp as the window shows it: a source's steady with a signal, flashing without, dark when
  // not in use or unknown; a function's steady while it is on.
  function setLamp(lamp, name, signal, isFunction) {
    lamp.classList.toggle("lit", signal === true);
    lamp.classList.toggle("flashing", signal === false);
    const word = isFunction ? t(signal ? "on" : "off")
      : signal === true ? t("lampSignal") : signal === false ? t("lampNoSignal") : t("lampOff");
    lamp.setAttribute("aria-label", t("lamp", name) + ": " + word);
    lamp.title = word;
  }

  function renderTransition() {
    const viewer = page.role !== "operator";
    for (const [value] of TRANSITIONS) {
      const button = controls.transitions[value];
      const checked = page.transition === value;
      button.setAttribute("aria-checked", String(checked));
      button.tabIndex = checked || (page.transition === null && value === "cut") ? 0 : -1;
      button.disabled = viewer;
    }
  }

  function clock(iso) {
    if (!iso) return "";
    const date = iso.slice(0, 10);
    const time = iso.slice(11, 19);
    const today = new Date();
    const pad = (n) => String(n).padStart(2, "0");
    const todayText = today.getFullYear() + "-" + pad(today.getMonth() + 1) + "-" +
      pad(today.getDate());
    return date === todayText ? time : date + " " + time;
  }

  function renderTimer() {
    const timer = (page.state && page.state.timer) || {};
    const viewer = page.role !== "operator";
    $("timer-running").textContent = page.state ? t(timer.running ? "running" : "stopped") : "";
    $("timer-running").classList.toggle("running", !!timer.running);
    const next = timer.next;
    $("next-time").textContent = next ? clock(next.time) : t("noExecution");
    $("next-source").textContent = next ? next.source : "";
    const last = timer.last;
    $("last-time").textContent = last ? clock(last.time) : t("noExecution");
    $("last-source").textContent = last ? last.source : "";
    const result = $("last-result");
    result.textContent = !last ? "" : last.result === "sent" ? t("sent", clock(last.time))
      : last.result === "missed" ? t("missed") : t("failed");
    result.classList.toggle("bad", !!last && last.result !== "sent");
    $("timer-start").disabled = viewer || !page.state || !!timer.running;
    $("timer-stop").disabled = viewer || !page.state || !timer.running;
  }

  function renderAlarms() {
    const state = page.state;
    const alarms = [];
    if (state && state.link !== "connected") alarms.push(t("notResponding"));
    if (state && state.link === "connected" && state.main && state.signals &&
        state.signals[state.main] === false) {
      alarms.push(t("noSignalOnAir", state.main));
    }
    const box = $("alarms");
    const text = alarms.join("\n");
    if (box.dataset.text === text + page.lang) return;  // no repeat for screen readers
    box.dataset.text = text + page.lang;
    box.replaceChildren(...alarms.map((a) =>
      make("p", { class: "alarm" }, [make("strong", { text: t("alarm") + ": " }),
        document.createTextNode(a)])));
  }

  function renderLive() {
    const state = page.state;
    const live = $("live");
    let text;
    let kind;
    if (!page.live) {
      text = t("liveLost");
      kind = "warn";
    } else if (!state) {
      text = "";
      kind = "";
    } else {
      const names = { connected: "linkConnected", connecting: "linkConnecting",
        lost: "linkLost", closed: "linkClosed" };
      text = t(names[state.link] || "linkConnecting");
      kind = state.link === "connected" ? "ok" : "warn";
    }
    live.textContent = text;
    live.className = "live " + kind;
  }

  function renderInfo() {
    const info = $("info");
    info.textContent = page.info ? page.info.text() : "";
    info.className = "info " + (page.info ? page.info.kind : "");
    const bar = $("infobar");
    bar.classList.toggle("empty", !page.info);
    bar.classList.toggle("failed", !!page.info && page.info.kind === "error");
    bar.hidden = $("panel").hidden;
  }

  function setLanguage(lang) {
    page.lang = lang;
    localStorage.setItem("orn312.lang", lang);
    document.documentElement.lang = lang === "zh" ? "zh-CN" : "en";
    document.title = t("title");
    for (const node of document.querySelectorAll("[data-t]")) {
      node.textContent = t(node.dataset.t);
    }
    $("lang-en").setAttribute("aria-pressed", String(lang === "en"));
    $("lang-zh").setAttribute("aria-pressed", String(lang === "zh"));
    render();
    renderInfo();
  }

  document.addEventListener("DOMContentLoaded", () => {
    buildControls();
    $("login-form").addEventListener("submit", login);
    $("logout").addEventListener("click", logout);
    $("lang-en").addEventListener("click", () => setLanguage("en"));
    $("lang-zh").addEventListener("click", () => setLanguage("zh"));
    setLanguage(localStorage.getItem("orn312.lang") === "zh" ? "zh" : "en");
    start();
  });
})();
