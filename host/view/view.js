// vantrel's live view: the flock's trackers in the transmitter's frame,
// drawn with three.js from the host's stream of samples (/samples,
// Server-Sent Events; see host/publish/HttpView.cpp for its events).
//
// Positions are in feet, angles in degrees, as the module publishes them
// (times 100000 in the stream). A tracker's orientation is the rotation
// O = Ry(azimuth) * Rx(elevation) * Rz(roll) on column vectors, which is
// three.js's Euler order 'YXZ'.
//
// For tests, window.vantrelView holds what the page shows: `shown` (per
// tracker ID the sample drawn at the last frame and its body's rotation, row
// by row), `buttons` (per tracker ID the controller sample of its unit that
// lights its buttons), `frames` (frames drawn), `delays` (milliseconds from
// the host's publication of a sample to its arrival here), `hostDelays` (the
// part of it until the host made the event) and `connected`.
(function () {
    'use strict';

    var TRAIL_SECONDS = 4;
    var TRAIL_POINTS = 512;
    var BACKGROUND = new THREE.Color(0x15191e);
    var PALETTE = [0xff5a5f, 0x3ec1d3, 0xffb400, 0x8ac926, 0xc77dff, 0xff8c42, 0x4cc9f0, 0xf15bb5,
                   0x9ef01a, 0xffd6a5, 0x00bbf9, 0xe76f51];
    var DEGREES = Math.PI / 180;

    var view = window.vantrelView = {
        connected: false, frames: 0, shown: {}, buttons: {}, delays: [], hostDelays: [], devices: [], health: [], paused: false
    };

    // The scene: the transmitter's frame, y up.
    var holder = document.getElementById('scene');
    var renderer = new THREE.WebGLRenderer({antialias: true, preserveDrawingBuffer: true});
    renderer.setPixelRatio(window.devicePixelRatio || 1);
    holder.appendChild(renderer.domElement);
    var scene = new THREE.Scene();
    scene.background = BACKGROUND;
    var camera = new THREE.PerspectiveCamera(45, 1, 0.05, 500);
    camera.position.set(7, 7.5, 15);
    var controls = new THREE.OrbitControls(camera, renderer.domElement);
    controls.target.set(0, 0.3, 3.5);
    controls.update();
    scene.add(new THREE.AmbientLight(0xffffff, 0.55));
    var sun = new THREE.DirectionalLight(0xffffff, 0.7);
    sun.position.set(5, 12, 8);
    scene.add(sun);

    function label(text, colour, height) {
        var canvas = document.createElement('canvas');
        var context = canvas.getContext('2d');
        context.font = 'bold 40px sans-serif';
        var width = Math.ceil(context.measureText(text).width) + 16;
        canvas.width = width;
        canvas.height = 56;
        context.font = 'bold 40px sans-serif';
        context.fillStyle = colour;
        context.textBaseline = 'middle';
        context.fillText(text, 8, 29);
        var texture = new THREE.CanvasTexture(canvas);
        texture.minFilter = THREE.LinearFilter;
        var sprite = new THREE.Sprite(new THREE.SpriteMaterial({map: texture, depthTest: false, transparent: true}));
        sprite.scale.set(height * width / 56, height, 1);
        sprite.renderOrder = 2;
        return sprite;
    }

    // Axes in feet with a mark and a number at every foot, and the floor
    // grid (one foot squares) in the x-z plane.
    var AXIS_FEET = 6;
    var axes = new THREE.AxesHelper(AXIS_FEET);
    scene.add(axes);
    [['x', new THREE.Vector3(1, 0, 0), '#ff6b6b'], ['y', new THREE.Vector3(0, 1, 0), '#6fd08c'],
     ['z', new THREE.Vector3(0, 0, 1), '#7fb2ff']].forEach(function (axis) {
        var name = label(axis[0], axis[2], 0.6);
        name.position.copy(axis[1]).multiplyScalar(AXIS_FEET + 0.5);
        scene.add(name);
        for (var foot = 1; foot <= AXIS_FEET; ++foot) {
            var mark = label(String(foot), '#8b96a3', 0.3);
            mark.position.copy(axis[1]).multiplyScalar(foot);
            mark.position.y -= 0.2;
            scene.add(mark);
        }
    });
    var grid = new THREE.GridHelper(24, 24, 0x3a4550, 0x262e37);
    scene.add(grid);
    var transmitter = new THREE.Mesh(new THREE.BoxGeometry(0.35, 0.35, 0.35),
                                     new THREE.MeshLambertMaterial({color: 0x9aa7b4}));
    scene.add(transmitter);

    // The hemispheres in use: a shaded half sphere on that side of the
    // transmitter, with its rim.
    var HEMISPHERE_FEET = 7.5;
    var hemispheres = {};
    function shadeHemisphere(name) {
        var sign = name.charAt(0) === '-' ? -1 : 1;
        var letter = name.replace(/^[+-]/, '').toLowerCase();
        var axis = new THREE.Vector3(letter === 'x' ? sign : 0, letter === 'y' ? sign : 0, letter === 'z' ? sign : 0);
        var key = axis.toArray().join(',');
        if (hemispheres[key] || axis.lengthSq() === 0) {
            return;
        }
        var group = new THREE.Group();
        group.add(new THREE.Mesh(
            new THREE.SphereGeometry(HEMISPHERE_FEET, 48, 16, 0, 2 * Math.PI, 0, Math.PI / 2),
            new THREE.MeshBasicMaterial({color: 0x4f86c6, transparent: true, opacity: 0.05, side: THREE.DoubleSide,
                                         depthWrite: false})));
        var rim = new THREE.BufferGeometry();
        var points = [];
        for (var i = 0; i <= 96; ++i) {
            var angle = 2 * Math.PI * i / 96;
            points.push(HEMISPHERE_FEET * Math.cos(angle), 0, HEMISPHERE_FEET * Math.sin(angle));
        }
        rim.setAttribute('position', new THREE.Float32BufferAttribute(points, 3));
        group.add(new THREE.Line(rim, new THREE.LineBasicMaterial({color: 0x4f86c6, transparent: true,
                                                                    opacity: 0.5})));
        group.quaternion.setFromUnitVectors(new THREE.Vector3(0, 1, 0), axis);
        scene.add(group);
        hemispheres[key] = group;
    }

    // The trackers, made at their first sample.
    var trackers = {};
    var selected = null;
    function deviceName(index) {
        var device = view.devices[index];
        return device ? device.name : '?';
    }

    function makeTracker(id, device) {
        var colour = new THREE.Color(PALETTE[(id - 1) % PALETTE.length]);
        var place = new THREE.Group();
        var body = new THREE.Group();
        var box = new THREE.Mesh(new THREE.BoxGeometry(0.6, 0.24, 0.9),
                                 new THREE.MeshLambertMaterial({color: colour, transparent: true, opacity: 0.85}));
        body.add(box);
        body.add(new THREE.AxesHelper(1.3));
        place.add(body);
        var tag = label(id + ' ' + deviceName(device), '#' + colour.getHexString(), 0.45);
        tag.position.set(0, 0.9, 0);
        place.add(tag);
        scene.add(place);

        var positions = new Float32Array(TRAIL_POINTS * 3);
        var colours = new Float32Array(TRAIL_POINTS * 3);
        var trailGeometry = new THREE.BufferGeometry();
        trailGeometry.setAttribute('position', new THREE.BufferAttribute(positions, 3));
        trailGeometry.setAttribute('color', new THREE.BufferAttribute(colours, 3));
        trailGeometry.setDrawRange(0, 0);
        var trail = new THREE.Line(trailGeometry, new THREE.LineBasicMaterial({vertexColors: THREE.VertexColors}));
        trail.frustumCulled = false;
        scene.add(trail);

        var tracker = {
            id: id, device: device, colour: colour, place: place, body: body, box: box, trail: trail,
            history: [], latest: null, drawn: null, controller: null, buttons: null
        };
        box.userData.tracker = tracker;
        trackers[id] = tracker;
        if (selected === null) {
            selected = id;
        }
        return tracker;
    }

    function nowMilliseconds() {
        return performance.timeOrigin + performance.now();
    }

    // The stream.
    var controllers = {};
    var source = new EventSource('samples');
    source.onopen = function () {
        view.connected = true;
        document.getElementById('connection').textContent = 'connected';
    };
    source.onerror = function () {
        view.connected = false;
        document.getElementById('connection').textContent = 'reconnecting';
    };
    source.addEventListener('devices', function (event) {
        view.devices = JSON.parse(event.data).devices;
        view.devices.forEach(function (device) { shadeHemisphere(device.hemisphere); });
        drawDevices();
    });
    source.addEventListener('health', function (event) {
        view.health = JSON.parse(event.data).devices;
        drawDevices();
    });
    source.addEventListener('samples', function (event) {
        var arrived = nowMilliseconds();
        var data = JSON.parse(event.data);
        (data.trackers || []).forEach(function (sample) {
            var tracker = trackers[sample.id] || makeTracker(sample.id, sample.device);
            tracker.latest = sample;
            tracker.history.push({at: performance.now(), x: sample.pose[0] / 1e5, y: sample.pose[1] / 1e5,
                                  z: sample.pose[2] / 1e5});
            if (tracker.history.length > TRAIL_POINTS) {
                tracker.history.shift();
            }
            view.delays.push(arrived - sample.published / 1000);
            view.hostDelays.push((data.sent - sample.published) / 1000);
        });
        (data.controllers || []).forEach(function (sample) {
            controllers[sample.id] = sample;
        });
        // The newest 20000 at least, trimmed now and then rather than at
        // every event.
        [view.delays, view.hostDelays].forEach(function (delays) {
            if (delays.length > 40000) {
                delays.splice(0, delays.length - 20000);
            }
        });
    });

    // The panel.
    function stateText(health) {
        if (!health) {
            return '-';
        }
        if (health.state === 'reconnecting') {
            return 'reconnecting (attempt ' + health.attempt + ')';
        }
        if (health.state === 'ok') {
            return 'ok';
        }
        return health.state + ' ' + Math.max(0, Math.round(Date.now() / 1000 - health.since)) + ' s';
    }

    function drawDevices() {
        var rows = view.devices.map(function (device, index) {
            var health = view.health[index];
            var row = document.createElement('tr');
            [device.name, stateText(health), health ? health.records.toFixed(1) : '-', device.hemisphere]
                .forEach(function (text, column) {
                    var cell = document.createElement('td');
                    cell.textContent = text;
                    if (column === 1 && health) {
                        cell.className = 'state-' + health.state;
                    }
                    if (column === 2) {
                        cell.className = 'number';
                    }
                    row.appendChild(cell);
                });
            return row;
        });
        var body = document.querySelector('#devices tbody');
        body.textContent = '';
        rows.forEach(function (row) { body.appendChild(row); });
    }

    // The controller sample of the tracker's unit (its mouse), if any.
    function controllerOf(id) {
        for (var key in controllers) {
            if (controllers[key].tracker === id) {
                return controllers[key];
            }
        }
        return null;
    }

    function drawTrackers() {
        var body = document.querySelector('#trackers tbody');
        body.textContent = '';
        Object.keys(trackers).map(Number).sort(function (a, b) { return a - b; }).forEach(function (id) {
            var tracker = trackers[id];
            var row = document.createElement('tr');
            if (id === selected) {
                row.className = 'selected';
            }
            row.dataset.tracker = String(id);
            var first = document.createElement('td');
            var swatch = document.createElement('span');
            swatch.className = 'swatch';
            swatch.style.background = '#' + tracker.colour.getHexString();
            first.appendChild(swatch);
            first.appendChild(document.createTextNode(String(id)));
            row.appendChild(first);
            var name = document.createElement('td');
            name.textContent = deviceName(tracker.device);
            row.appendChild(name);
            var buttons = document.createElement('td');
            (tracker.buttons || []).forEach(function (pressed, n) {
                var button = document.createElement('span');
                button.className = pressed ? 'button pressed' : 'button';
                button.textContent = String(n + 1);
                buttons.appendChild(button);
            });
            if (!tracker.buttons) {
                buttons.textContent = '-';
            }
            row.appendChild(buttons);
            body.appendChild(row);
        });
    }

    function fixed(value) {
        return (value / 1e5).toFixed(5);
    }

    function drawReadout() {
        var tracker = trackers[selected];
        var sample = tracker ? tracker.drawn : null;
        document.getElementById('readout-title').textContent =
            tracker ? 'Tracker ' + tracker.id + ' (' + deviceName(tracker.device) + ')' : 'Selected tracker';
        ['x', 'y', 'z', 'azimuth', 'elevation', 'roll'].forEach(function (name, k) {
            document.getElementById('value-' + name).textContent = sample ? fixed(sample.pose[k]) : '-';
        });
        document.getElementById('value-time').textContent =
            sample ? sample.time[0] + '.' + String(sample.time[1]).padStart(6, '0') : '-';
    }

    function select(id) {
        selected = id;
        drawTrackers();
        drawReadout();
    }

    document.querySelector('#trackers tbody').addEventListener('click', function (event) {
        var row = event.target.closest('tr');
        if (row && row.dataset.tracker) {
            select(Number(row.dataset.tracker));
        }
    });

    var pause = document.getElementById('pause');
    pause.onclick = function () {
        view.paused = !view.paused;
        pause.textContent = view.paused ? 'Resume' : 'Pause';
        pause.className = view.paused ? 'paused' : '';
    };

    // A click (not a drag) on a body selects its tracker.
    var pressedAt = null;
    renderer.domElement.addEventListener('pointerdown', function (event) {
        pressedAt = [event.clientX, event.clientY];
    });
    renderer.domElement.addEventListener('pointerup', function (event) {
        if (!pressedAt || Math.abs(event.clientX - pressedAt[0]) + Math.abs(event.clientY - pressedAt[1]) > 4) {
            return;
        }
        var box = renderer.domElement.getBoundingClientRect();
        var pointer = new THREE.Vector2((event.clientX - box.left) / box.width * 2 - 1,
                                        -(event.clientY - box.top) / box.height * 2 + 1);
        var ray = new THREE.Raycaster();
        ray.setFromCamera(pointer, camera);
        var hits = ray.intersectObjects(Object.keys(trackers).map(function (id) { return trackers[id].box; }));
        if (hits.length > 0) {
            select(hits[0].object.userData.tracker.id);
        }
    });

    // Each frame: the latest sample of every tracker onto its body, the
    // trails faded by age, the panel; unless paused.
    function place(tracker) {
        var sample = tracker.latest;
        var pose = sample.pose;
        tracker.place.position.set(pose[0] / 1e5, pose[1] / 1e5, pose[2] / 1e5);
        tracker.body.rotation.set(pose[4] / 1e5 * DEGREES, pose[3] / 1e5 * DEGREES, pose[5] / 1e5 * DEGREES, 'YXZ');
        var controller = controllerOf(tracker.id);
        tracker.controller = controller;
        tracker.buttons = controller ? controller.buttons : null;
        var pressed = (tracker.buttons || []).some(function (bit) { return bit === 1; });
        tracker.box.material.emissive.setHex(pressed ? 0x806000 : 0x000000);
        tracker.drawn = sample;
    }

    function drawTrail(tracker, now) {
        var positions = tracker.trail.geometry.attributes.position;
        var colours = tracker.trail.geometry.attributes.color;
        var history = tracker.history;
        var count = 0;
        var colour = new THREE.Color();
        for (var i = 0; i < history.length; ++i) {
            var age = (now - history[i].at) / 1000;
            if (age > TRAIL_SECONDS) {
                continue;
            }
            positions.setXYZ(count, history[i].x, history[i].y, history[i].z);
            colour.copy(BACKGROUND).lerp(tracker.colour, 1 - age / TRAIL_SECONDS);
            colours.setXYZ(count, colour.r, colour.g, colour.b);
            ++count;
        }
        tracker.trail.geometry.setDrawRange(0, count);
        positions.needsUpdate = true;
        colours.needsUpdate = true;
    }

    function resize() {
        var width = holder.clientWidth;
        var height = holder.clientHeight;
        if (renderer.domElement.width !== Math.floor(width * renderer.getPixelRatio()) ||
            renderer.domElement.height !== Math.floor(height * renderer.getPixelRatio())) {
            renderer.setSize(width, height, false);
            camera.aspect = width / Math.max(1, height);
            camera.updateProjectionMatrix();
        }
    }

    var lastPanel = 0;
    var lastStates = performance.now();
    function frame() {
        requestAnimationFrame(frame);
        resize();
        var now = performance.now();
        if (!view.paused) {
            Object.keys(trackers).forEach(function (id) {
                var tracker = trackers[id];
                if (tracker.latest) {
                    place(tracker);
                }
                drawTrail(tracker, now);
            });
        }
        controls.update();
        renderer.render(scene, camera);
        view.frames += 1;
        // What was drawn, for tests.
        Object.keys(trackers).forEach(function (id) {
            var tracker = trackers[id];
            if (!tracker.drawn) {
                return;
            }
            var e = tracker.body.matrixWorld.elements;
            view.shown[id] = {
                device: tracker.device, time: tracker.drawn.time, pose: tracker.drawn.pose.slice(),
                rotation: [e[0], e[4], e[8], e[1], e[5], e[9], e[2], e[6], e[10]]
            };
            var controller = tracker.controller;
            view.buttons[id] = controller ? {id: controller.id, time: controller.time, buttons: controller.buttons} : null;
        });
        // The age of a silent or lost state.
        if (now - lastStates >= 1000) {
            lastStates = now;
            drawDevices();
        }
        if (!view.paused && now - lastPanel >= 100) {
            drawTrackers();
            drawReadout();
            lastPanel = now;
        }
    }
    requestAnimationFrame(frame);
}());
